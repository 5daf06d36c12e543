#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QXmlStreamReader>

// A PDF read back with pdftotext (poppler-utils): the text of its pages, and as -bbox sees them, their
// size and where the ink of the words lies, in millimetres.
struct PdfPages
{
    // Each page's lines as -layout lays them out, blanks squeezed, empty lines left out.
    static QList<QStringList> Text(const QString& pdf)
    {
        QList<QStringList> pages;
        for (const QString& page : Run(pdf, QStringLiteral("-layout")).split(QLatin1Char('\f'))) {
            QStringList lines;
            for (const QString& line : page.split(QLatin1Char('\n')))
                if (!line.simplified().isEmpty())
                    lines << line.simplified();
            if (!lines.isEmpty())
                pages << lines;
        }
        return pages;
    }

    // The lines of every page, one after the other.
    static QStringList Lines(const QString& pdf)
    {
        QStringList lines;
        for (const QStringList& page : Text(pdf))
            lines += page;
        return lines;
    }

    static QString Run(const QString& pdf, const QString& option)
    {
        QProcess tool;
        tool.start(QStringLiteral("pdftotext"), {option, pdf, QStringLiteral("-")});
        if (!tool.waitForFinished(30000) || tool.exitCode() != 0)
            return QString();
        return QString::fromUtf8(tool.readAllStandardOutput());
    }

    int count = 0;
    double widthMm = 0; // of the last page
    double heightMm = 0;
    double left = 1e9; // the leftmost and rightmost edge of any word
    double right = 0;

    static PdfPages Read(const QString& pdf)
    {
        PdfPages pages;
        QXmlStreamReader xml(Run(pdf, QStringLiteral("-bbox")));
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
