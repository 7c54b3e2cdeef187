// The plots of the printed report: one per group of quantities, painted
// into a rectangle of the page as vectors.
#pragma once

#include "data/supply_report.h"

#include <QRectF>

class QCPPainter;

// The values of the group's rows over the whole period, week after week,
// against their bands; for the harmonics, each order's P95 (worst phase and
// week) against its limit.
void PaintGroupPlot(QCPPainter &painter, const QRectF &rect, const SSupplyReport &report, EQuantityGroup group);
