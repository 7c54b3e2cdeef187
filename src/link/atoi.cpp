#include "link/atoi.h"

#include <climits>

int AtoI(const QString &strText)
{
    int i = 0;
    const int n = int(strText.size());
    while (i < n && (strText[i] == u' ' || (strText[i] >= u'\t' && strText[i] <= u'\r')))
        ++i;
    bool bNegative = false;
    if (i < n && (strText[i] == u'+' || strText[i] == u'-'))
        bNegative = strText[i++] == u'-';
    long long v = 0;
    for (; i < n && strText[i] >= u'0' && strText[i] <= u'9'; ++i) {
        v = v * 10 + (strText[i].unicode() - u'0');
        if (v > LLONG_MAX / 100)
            break;
    }
    if (bNegative)
        v = -v;
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return int(v);
}
