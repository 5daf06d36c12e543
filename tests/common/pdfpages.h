#pragma once

#include <QProcess>
#include <QString>
#include <QXmlStreamReader>

// The pages of a PDF as pdftotext -bbox sees them: their size and where the ink of the words lies,
// in millimetres.
struct PdfPages
{
    int count = 0;
    double widthMm = 0; // of the last page
    double heightMm = 0;
    double left = 1e9; // the leftmost and rightmost edge of any word
    double right = 0;

    static PdfPages Read(const QString& pdf)
    {
        PdfPages pages;
        QProcess tool;
        tool.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
        if (!tool.waitForFinished(30000))
            return pages;
        QXmlStreamReader xml(tool.readAllStandardOutput());
        constexpr double mm = 25.4 / 72;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const QXmlStreamAttributes attributes = xml.attributes();
            if (xml.name() == QLatin1String("page")) {
                ++pages.count;
                pages.widthMm = attributes.value(QLatin1String("width")).toDouble() * mm;
                pages.heightMm = attributes.value(QLatin1String("height")).toDouble() * mm;
            } else if (xml.name() == QLatin1String("word")) {
                pages.left = qMin(pages.left, attributes.value(QLatin1String("xMin")).toDouble() * mm);
                pages.right = qMax(pages.right, attributes.value(QLatin1String("xMax")).toDouble() * mm);
            }
        }
        return pages;
    }
};
