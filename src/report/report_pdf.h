// The supply-quality report as a PDF: an A4 document in Russian with the
// period, the counts of intervals, the verdict table by group and a plot of
// each group's 10-minute values against its bands, drawn as vectors. Needs a
// QApplication: the plots are QCustomPlot widgets painted into the page.
#pragma once

#include "data/report_document.h"
#include "data/supply_report.h"

#include <QByteArray>
#include <QString>

// The whole document.
QByteArray SupplyReportPdf(const SSupplyReport &report, const SReportDocument &document);

// Writes the document to strPath as a whole (an earlier file of that name
// stays intact when writing fails); false with strError saying why.
bool WriteSupplyReportPdf(const SSupplyReport &report, const SReportDocument &document, const QString &strPath,
                          QString &strError);
