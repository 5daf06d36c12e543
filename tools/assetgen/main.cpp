// Draws every picture the client compiles in (resources/img). tools/make-assets.sh builds and runs
// this program, then assembles the loading animation from the frames it leaves behind.
//
// Everything is drawn from code so that the pictures can be changed and regenerated; the output
// only depends on this file (no fonts, no randomness beyond a fixed seed).

#include <QBuffer>
#include <QCommandLineParser>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QtEndian>
#include <QtMath>

#include <cstdio>
#include <functional>

namespace {

const QColor Accent(255, 85, 0); // #f50, the accent of the whole program
const QColor AccentLight(255, 122, 51);
const QColor AccentDark(226, 68, 0);
const QColor Glyph(255, 255, 255);

// Pictures are drawn once in the sizes the client lays them out at, and written for each display
// scale: at 2 the canvas has twice the pixels and painters on it draw in the same coordinates, so
// every line lands sharp on a display set to 150 % or 200 % (Qt picks "name@2x.png" there).
int canvasScale = 1;

QImage NewCanvas(int width, int height, const QColor& fill = Qt::transparent)
{
    QImage image(width * canvasScale, height * canvasScale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(canvasScale);
    image.fill(fill);
    return image;
}

// A painter with antialiasing on and a coordinate system of `units` × `units` mapped onto the
// image, so that icons drawn once scale to every size they are written at.
class Pen : public QPainter
{
public:
    explicit Pen(QImage* image, qreal units = 0) : QPainter(image)
    {
        setRenderHint(QPainter::Antialiasing);
        setRenderHint(QPainter::SmoothPixmapTransform);
        if (units > 0)
            scale(image->width() / units, image->height() / units);
    }

    void Stroke(const QPainterPath& path, const QColor& color, qreal width)
    {
        QPen pen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        strokePath(path, pen);
    }

    void Line(QPointF from, QPointF to, const QColor& color, qreal width)
    {
        QPainterPath path(from);
        path.lineTo(to);
        Stroke(path, color, width);
    }
};

QPainterPath Polyline(std::initializer_list<QPointF> points)
{
    QPainterPath path;
    bool first = true;
    for (const QPointF& point : points) {
        if (first)
            path.moveTo(point);
        else
            path.lineTo(point);
        first = false;
    }
    return path;
}

QPainterPath Polygon(std::initializer_list<QPointF> points)
{
    QPainterPath path = Polyline(points);
    path.closeSubpath();
    return path;
}

// ---------------------------------------------------------------------------------------------
// Application icon: a rounded square with a white "V". The unconnected variant is the same mark in
// greys, so that the tray shows at a glance whether the client is logged in.

QImage DrawAppIcon(int size, bool connected)
{
    QImage image = NewCanvas(size, size);
    Pen p(&image, 64);
    QLinearGradient fill(0, 0, 64, 64);
    fill.setColorAt(0, connected ? AccentLight : QColor(200, 200, 200));
    fill.setColorAt(1, connected ? AccentDark : QColor(138, 138, 138));
    QPainterPath square;
    square.addRoundedRect(QRectF(2, 2, 60, 60), 14, 14);
    p.fillPath(square, fill);
    // a soft sheen on the upper half gives the flat square a little depth at large sizes
    QLinearGradient sheen(0, 2, 0, 34);
    sheen.setColorAt(0, QColor(255, 255, 255, 70));
    sheen.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillPath(square, sheen);
    p.Stroke(Polyline({{17, 19}, {32, 46}, {47, 19}}), connected ? Glyph : QColor(246, 246, 246), 8.5);
    return image;
}

// The tray icon while the polls cannot reach the platform: the mark in greys, as when logged out,
// with a red badge and a white cross in its lower right corner, large enough to read at 16 pixels.
QImage DrawOfflineIcon(int size)
{
    QImage image = DrawAppIcon(size, false);
    Pen p(&image, 64);
    const QPointF centre(45, 45);
    QPainterPath badge;
    badge.addEllipse(centre, 19, 19);
    p.fillPath(badge, Qt::white);
    QPainterPath dot;
    dot.addEllipse(centre, 16, 16);
    p.fillPath(dot, QColor(211, 32, 32));
    p.Line(centre + QPointF(-7, -7), centre + QPointF(7, 7), Glyph, 5.5);
    p.Line(centre + QPointF(7, -7), centre + QPointF(-7, 7), Glyph, 5.5);
    return image;
}

// Qt's writer leaves the padding at the end of each row of the transparency mask uninitialised;
// zero it so that regenerated icons are byte-for-byte the same.
void ClearMaskPadding(QByteArray* dib)
{
    if (dib->size() < 40)
        return;
    const char* header = dib->constData();
    const quint32 headerSize = qFromLittleEndian<quint32>(header);
    const qint32 width = qFromLittleEndian<qint32>(header + 4);
    const qint32 height = qFromLittleEndian<qint32>(header + 8) / 2; // colour rows + mask rows
    const quint16 bitsPerPixel = qFromLittleEndian<quint16>(header + 14);
    if (bitsPerPixel != 32 || width <= 0 || height <= 0)
        return;
    const int maskStart = int(headerSize) + width * height * 4;
    const int maskRow = (width + 31) / 32 * 4;
    const int used = (width + 7) / 8;
    for (int row = 0; row < height; ++row) {
        for (int i = used; i < maskRow; ++i) {
            const int at = maskStart + row * maskRow + i;
            if (at < dib->size())
                (*dib)[at] = '\0';
        }
    }
}

// Windows wants one icon file with several sizes; Qt's "ico" writer stores a single image, so each
// size is written by it on its own and the entries are gathered into one directory. Where the
// plugin is missing the entries carry PNG data, which Windows and Qt both read.
bool WriteIco(const QString& path, const QList<QImage>& images)
{
    const bool qtIco = QImageWriter::supportedImageFormats().contains("ico");
    QList<QByteArray> payloads;
    QList<QByteArray> entries;
    for (const QImage& image : images) {
        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, qtIco ? "ico" : "png"))
            return false;
        QByteArray entry(16, '\0');
        if (qtIco) {
            // a one-image file: 6 bytes of header, one 16-byte entry, then the bitmap
            if (data.size() < 22 || qFromLittleEndian<quint16>(data.constData() + 4) != 1)
                return false;
            const quint32 offset = qFromLittleEndian<quint32>(data.constData() + 18);
            entry = data.mid(6, 16);
            data = data.mid(int(offset));
            ClearMaskPadding(&data);
        } else {
            entry[0] = char(image.width() >= 256 ? 0 : image.width());
            entry[1] = char(image.height() >= 256 ? 0 : image.height());
            qToLittleEndian<quint16>(1, entry.data() + 4);  // planes
            qToLittleEndian<quint16>(32, entry.data() + 6); // bits per pixel
        }
        qToLittleEndian<quint32>(quint32(data.size()), entry.data() + 8);
        entries << entry;
        payloads << data;
    }

    QByteArray file(6, '\0');
    qToLittleEndian<quint16>(1, file.data() + 2); // type: icon
    qToLittleEndian<quint16>(quint16(images.size()), file.data() + 4);
    quint32 offset = quint32(6 + 16 * images.size());
    for (int i = 0; i < entries.size(); ++i) {
        qToLittleEndian<quint32>(offset, entries[i].data() + 12);
        file += entries[i];
        offset += quint32(payloads[i].size());
    }
    for (const QByteArray& payload : payloads)
        file += payload;

    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(file) == file.size();
}

// ---------------------------------------------------------------------------------------------
// Top bands. White text and white glyphs sit on them, so they stay a warm, fairly dark orange.
// The main picture is a seamless tile: its colour, circles and waves all repeat after `width`
// pixels, so a band wider than the picture never shows a seam, whether the sheet repeats it or not.

void DrawBand(QImage* image, quint32 seed, bool tile)
{
    const int w = qRound(image->width() / image->devicePixelRatio());
    const int h = qRound(image->height() / image->devicePixelRatio());
    Pen p(image);

    // Colour varies along x only (rows are identical, which PNG packs into almost nothing).
    QLinearGradient base(0, 0, w, 0);
    if (tile) {
        base.setColorAt(0.0, QColor(255, 110, 38));
        base.setColorAt(0.5, QColor(240, 78, 0));
        base.setColorAt(1.0, QColor(255, 110, 38));
    } else {
        base.setColorAt(0.0, QColor(255, 112, 40));
        base.setColorAt(1.0, QColor(238, 76, 0));
    }
    p.fillRect(QRect(0, 0, w, h), base);

    // Soft light circles, drawn twice near the edges of a tile so they wrap around.
    QRandomGenerator random(seed);
    const int circles = qMax(6, w / 70);
    for (int i = 0; i < circles; ++i) {
        const qreal x = random.bounded(w);
        const qreal y = random.bounded(h - 30);
        const qreal r = 8 + random.bounded(46);
        const int alpha = 10 + random.bounded(22);
        QRadialGradient glow(QPointF(x, y), r);
        glow.setColorAt(0.0, QColor(255, 255, 255, alpha));
        glow.setColorAt(0.75, QColor(255, 255, 255, alpha * 2 / 3));
        glow.setColorAt(1.0, QColor(255, 255, 255, 0));
        for (int shift : {-w, 0, w}) {
            if (!tile && shift != 0)
                continue;
            p.save();
            p.translate(shift, 0);
            p.setPen(Qt::NoPen);
            p.setBrush(glow);
            p.drawEllipse(QPointF(x, y), r, r);
            p.restore();
        }
    }

    // Two gentle waves along the bottom edge.
    struct Wave
    {
        qreal base, amplitude, periods, phase;
        int alpha;
    };
    const Wave waves[] = {{h - 46.0, 9, 3, 0.6, 26}, {h - 28.0, 7, 5, 2.1, 34}};
    for (const Wave& wave : waves) {
        // a tile holds a whole number of periods; a single picture uses them as a plain count
        const qreal periods = tile ? qMax<qreal>(1, qRound(wave.periods * w / 600.0)) : wave.periods;
        QPainterPath path(QPointF(0, h));
        for (int x = 0; x <= w; x += 4) {
            const qreal y = wave.base + wave.amplitude * qSin(2 * M_PI * periods * x / w + wave.phase);
            path.lineTo(x, y);
        }
        path.lineTo(w, h);
        path.closeSubpath();
        p.fillPath(path, QColor(255, 255, 255, wave.alpha));
    }
}

// ---------------------------------------------------------------------------------------------
// Title-bar buttons: 30 × 30, a 10-pixel glyph in the middle.

QImage DrawTitleButton(const std::function<void(Pen&)>& glyph)
{
    QImage image = NewCanvas(30, 30);
    Pen p(&image);
    glyph(p);
    return image;
}

void MinGlyph(Pen& p)
{
    p.Line({10, 15.5}, {20, 15.5}, Glyph, 1.6);
}

void MaxGlyph(Pen& p)
{
    QPainterPath box;
    box.addRect(QRectF(10.5, 10.5, 9, 9));
    p.Stroke(box, Glyph, 1.4);
}

void RestoreGlyph(Pen& p)
{
    QPainterPath front;
    front.addRect(QRectF(9.5, 12.5, 8, 8));
    p.Stroke(front, Glyph, 1.4);
    p.Stroke(Polyline({{12.5, 12.5}, {12.5, 9.5}, {20.5, 9.5}, {20.5, 17.5}, {17.5, 17.5}}), Glyph, 1.4);
}

void CloseGlyph(Pen& p, const QColor& color)
{
    p.Line({10, 10}, {20, 20}, color, 1.7);
    p.Line({20, 10}, {10, 20}, color, 1.7);
}

// ---------------------------------------------------------------------------------------------
// The loading animation and default avatar: a cow's head inside a ring of dots that chase round.
// Frames are opaque white: the picture sits on white bands and in white-framed avatar boxes, and an
// opaque GIF has no ragged edges.

void DrawCowHead(Pen& p, bool eyesClosed)
{
    const QColor outline = Accent;
    const QColor hide(255, 250, 246);
    const QColor patch(255, 133, 71);
    const QColor muzzle(255, 210, 184);
    const QColor dark(70, 52, 44);

    // horns
    for (int side : {-1, 1}) {
        QPainterPath horn(QPointF(40 + side * 9, 26));
        horn.cubicTo(QPointF(40 + side * 15, 24), QPointF(40 + side * 18, 20), QPointF(40 + side * 17, 15));
        horn.cubicTo(QPointF(40 + side * 14, 19), QPointF(40 + side * 12, 21), QPointF(40 + side * 7, 22));
        horn.closeSubpath();
        p.fillPath(horn, QColor(255, 236, 214));
        p.Stroke(horn, outline, 1.4);
    }
    // ears
    for (int side : {-1, 1}) {
        p.save();
        p.translate(40 + side * 19, 32);
        p.rotate(side * -18);
        QPainterPath ear;
        ear.addEllipse(QPointF(0, 0), 7.5, 4);
        p.fillPath(ear, patch);
        p.Stroke(ear, outline, 1.4);
        p.restore();
    }
    // head
    QPainterPath head;
    head.moveTo(40, 21);
    head.cubicTo(51, 21, 55, 28, 54, 38);
    head.cubicTo(53, 46, 52, 52, 50, 55);
    head.lineTo(30, 55);
    head.cubicTo(28, 52, 27, 46, 26, 38);
    head.cubicTo(25, 28, 29, 21, 40, 21);
    p.fillPath(head, hide);
    // one orange patch over the left eye, clipped to the head
    p.save();
    p.setClipPath(head);
    QPainterPath spot;
    spot.addEllipse(QPointF(31, 31), 9, 8);
    p.fillPath(spot, patch);
    p.restore();
    p.Stroke(head, outline, 1.8);
    // eyes
    for (int side : {-1, 1}) {
        const QPointF eye(40 + side * 7, 36);
        if (eyesClosed) {
            p.Line(eye - QPointF(2.2, 0), eye + QPointF(2.2, 0), dark, 1.4);
        } else {
            p.setPen(Qt::NoPen);
            p.setBrush(dark);
            p.drawEllipse(eye, 2.2, 2.6);
            p.setBrush(Qt::white);
            p.drawEllipse(eye + QPointF(0.7, -0.9), 0.8, 0.8);
        }
    }
    // muzzle with nostrils
    QPainterPath nose;
    nose.addRoundedRect(QRectF(28, 43, 24, 15), 7.5, 7.5);
    p.fillPath(nose, muzzle);
    p.Stroke(nose, outline, 1.6);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(214, 80, 20));
    p.drawEllipse(QPointF(35, 50), 1.8, 2.3);
    p.drawEllipse(QPointF(45, 50), 1.8, 2.3);
}

QImage DrawCattleFrame(int frame, int frames)
{
    QImage image = NewCanvas(80, 80, Qt::white);
    Pen p(&image);
    const int dots = 12;
    const int head = frame * dots / frames;
    for (int i = 0; i < dots; ++i) {
        const qreal angle = 2 * M_PI * i / dots - M_PI / 2;
        const QPointF centre(40 + 33 * qCos(angle), 40 + 33 * qSin(angle));
        const int behind = (head - i + dots) % dots; // 0 is the leading dot
        QColor color = Accent;
        qreal radius = 3.4;
        if (behind < 4) {
            color.setAlpha(255 - behind * 50);
            radius -= behind * 0.3;
        } else {
            color = QColor(255, 221, 204);
            radius = 2.4;
        }
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawEllipse(centre, radius, radius);
    }
    p.translate(0, 2); // the head's visual centre sits a little above its box's
    DrawCowHead(p, frame == frames / 2);
    return image;
}

// ---------------------------------------------------------------------------------------------
// Small pictures.

QImage DrawFallbackAvatar()
{
    QImage image = NewCanvas(80, 80, QColor(236, 236, 236));
    Pen p(&image);
    const QColor figure(190, 190, 190);
    p.setPen(Qt::NoPen);
    p.setBrush(figure);
    p.drawEllipse(QPointF(40, 31), 14, 15);
    QPainterPath body(QPointF(12, 80));
    body.cubicTo(QPointF(12, 60), QPointF(25, 51), QPointF(40, 51));
    body.cubicTo(QPointF(55, 51), QPointF(68, 60), QPointF(68, 80));
    body.closeSubpath();
    p.fillPath(body, figure);
    return image;
}

QImage DrawOrder(bool isNew)
{
    QImage image = NewCanvas(42, 42);
    Pen p(&image);
    // a receipt with its top-right corner folded down
    QPainterPath paper = Polygon({{9, 5}, {26, 5}, {33, 12}, {33, 37}, {9, 37}});
    const QColor paperFill = isNew ? Accent : Qt::white;
    const QColor ink = isNew ? QColor(Qt::white) : QColor(190, 190, 190);
    p.fillPath(paper, paperFill);
    p.Stroke(paper, isNew ? AccentDark : QColor(255, 140, 85), 1.6);
    p.Stroke(Polygon({{26, 5}, {26, 12}, {33, 12}}), isNew ? AccentDark : QColor(255, 140, 85), 1.4);
    p.Line({14, 16}, {23, 16}, ink, 1.6);
    p.Line({14, 21}, {28, 21}, ink, 1.6);
    p.Line({14, 26}, {28, 26}, ink, 1.6);
    p.Line({20, 31.5}, {28, 31.5}, isNew ? QColor(Qt::white) : Accent, 2);
    if (isNew) {
        // a red dot ringed in white: reads as "new" on white rows and on the orange receipt alike
        p.setPen(QPen(Qt::white, 1.6));
        p.setBrush(QColor(224, 0, 30));
        p.drawEllipse(QPointF(33, 8), 5.5, 5.5);
    }
    return image;
}

QImage DrawFold(bool expanded)
{
    QImage image = NewCanvas(12, 12);
    Pen p(&image);
    if (expanded)
        p.fillPath(Polygon({{1.5, 3.5}, {10.5, 3.5}, {6, 9}}), Accent);
    else
        p.fillPath(Polygon({{3.5, 1.5}, {9, 6}, {3.5, 10.5}}), QColor(150, 150, 150));
    return image;
}

// Shortcut glyphs keep a 2-pixel margin: on hover the sheet adds a border (and padding) that clips
// the picture's outer pixels.
QImage DrawHomeLink()
{
    QImage image = NewCanvas(20, 20);
    Pen p(&image);
    p.Stroke(Polyline({{3, 10}, {10, 3.5}, {17, 10}}), Glyph, 1.8);
    p.Stroke(Polyline({{5.5, 8.5}, {5.5, 16.5}, {14.5, 16.5}, {14.5, 8.5}}), Glyph, 1.6);
    p.fillRect(QRectF(8.5, 11.5, 3, 5), Glyph);
    return image;
}

QImage DrawCashLink()
{
    QImage image = NewCanvas(20, 20);
    Pen p(&image);
    QPainterPath coin;
    coin.addEllipse(QPointF(10, 10), 7.3, 7.3);
    p.Stroke(coin, Glyph, 1.5);
    // the yuan sign
    p.Stroke(Polyline({{7.2, 6}, {10, 9.6}, {12.8, 6}}), Glyph, 1.4);
    p.Line({10, 9.6}, {10, 14.5}, Glyph, 1.4);
    p.Line({7.6, 10.6}, {12.4, 10.6}, Glyph, 1.2);
    p.Line({7.6, 12.8}, {12.4, 12.8}, Glyph, 1.2);
    return image;
}

QImage DrawIncome()
{
    QImage image = NewCanvas(22, 22);
    Pen p(&image);
    // whole-pixel edges keep the bars sharp at this size
    p.fillRect(QRectF(5, 11, 3, 6), Glyph);
    p.fillRect(QRectF(10, 8, 3, 9), Glyph);
    p.fillRect(QRectF(15, 5, 3, 12), Glyph);
    p.fillRect(QRectF(4, 18, 15, 1), Glyph);
    return image;
}

QImage DrawScannedOrder()
{
    QImage image = NewCanvas(22, 22);
    Pen p(&image);
    QPainterPath board;
    board.addRoundedRect(QRectF(4.75, 4.75, 12.5, 14.5), 2, 2);
    p.Stroke(board, Glyph, 1.5);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(8, 3, 6, 3.5), 1, 1);
    p.fillPath(clip, Glyph);
    p.Stroke(Polyline({{7.8, 12.2}, {10, 14.6}, {14.3, 9.6}}), Glyph, 1.7);
    return image;
}

QImage DrawMenu(bool hover)
{
    QImage image = NewCanvas(20, 20);
    Pen p(&image);
    QColor ink = Glyph;
    if (hover) {
        QPainterPath back;
        back.addRoundedRect(QRectF(1, 1, 18, 18), 3, 3);
        p.fillPath(back, Qt::white);
        ink = Accent;
    }
    for (qreal y : {6.0, 10.0, 14.0})
        p.Line({5, y}, {15, y}, ink, 1.8);
    return image;
}

QImage DrawArrow(bool up)
{
    QImage image = NewCanvas(12, 12);
    Pen p(&image);
    if (up)
        p.Stroke(Polyline({{2.5, 7.8}, {6, 4.3}, {9.5, 7.8}}), Accent, 1.7);
    else
        p.Stroke(Polyline({{2.5, 4.5}, {6, 8}, {9.5, 4.5}}), QColor(160, 160, 160), 1.7);
    return image;
}

// ---------------------------------------------------------------------------------------------

bool SavePng(const QImage& image, const QString& path)
{
    QImageWriter writer(path, "png");
    writer.setQuality(0); // for PNG: strongest compression
    if (writer.write(image))
        return true;
    std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), qPrintable(writer.errorString()));
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Draws the pictures of the Tarvik client.");
    parser.addHelpOption();
    parser.addPositionalArgument("outdir", "Folder for the pictures (resources/img).");
    parser.addPositionalArgument("framesdir", "Folder for the loading animation's frames (cattle_NN.png).");
    parser.addPositionalArgument("iconsdir", "Optional: folder for the desktop icons (tarvik-SIZE.png).", "[iconsdir]");
    parser.process(app);
    const QStringList args = parser.positionalArguments();
    if (args.size() != 2 && args.size() != 3)
        parser.showHelp(2);
    const QDir out(args.at(0));
    const QDir frames(args.at(1));
    if (!QDir().mkpath(out.path()) || !QDir().mkpath(frames.path())) {
        std::fprintf(stderr, "cannot create the output folders\n");
        return 1;
    }

    bool ok = true;
    auto png = [&](const QString& name, const QImage& image) {
        ok = SavePng(image, out.filePath(name)) && ok;
    };

    for (bool connected : {true, false}) {
        QList<QImage> sizes;
        for (int size : {16, 24, 32, 48})
            sizes << DrawAppIcon(size, connected);
        const QString name = connected ? "velm.ico" : "velm_unconnect.ico";
        if (!WriteIco(out.filePath(name), sizes)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(name));
            ok = false;
        }
    }

    {
        QList<QImage> sizes;
        for (int size : {16, 24, 32, 48})
            sizes << DrawOfflineIcon(size);
        if (!WriteIco(out.filePath("velm_offline.ico"), sizes)) {
            std::fprintf(stderr, "cannot write velm_offline.ico\n");
            ok = false;
        }
    }

    // The desktop's menus and launchers take PNGs per size, drawn from the same mark as the tray icon.
    if (args.size() == 3) {
        const QDir icons(args.at(2));
        if (!QDir().mkpath(icons.path())) {
            std::fprintf(stderr, "cannot create %s\n", qPrintable(icons.path()));
            return 1;
        }
        for (int size : {48, 64, 128, 256})
            ok = SavePng(DrawAppIcon(size, true), icons.filePath(QString::asprintf("tarvik-%d.png", size))) && ok;
    }

    const int frameCount = 12;
    for (int i = 0; i < frameCount; ++i)
        ok = SavePng(DrawCattleFrame(i, frameCount),
                     frames.filePath(QString::asprintf("cattle_%02d.png", i))) &&
             ok;

    for (int scale : {1, 2}) {
        canvasScale = scale;
        const QString suffix = scale == 1 ? QStringLiteral(".png") : QStringLiteral("@2x.png");
        auto picture = [&](const char* name, const QImage& image) { png(QLatin1String(name) + suffix, image); };

        QImage loginTop = NewCanvas(430, 180);
        DrawBand(&loginTop, 7, false);
        picture("login_top", loginTop);
        // wide enough for a maximised window on a common desktop; wider bands tile seamlessly
        QImage mainTop = NewCanvas(1920, 180);
        DrawBand(&mainTop, 11, true);
        picture("main_top", mainTop);

        picture("btn_min", DrawTitleButton(MinGlyph));
        picture("btn_max", DrawTitleButton(MaxGlyph));
        picture("btn_max2min", DrawTitleButton(RestoreGlyph));
        picture("btn_close", DrawTitleButton([](Pen& p) { CloseGlyph(p, Glyph); }));
        picture("btn_close_hover", DrawTitleButton([](Pen& p) { CloseGlyph(p, QColor(204, 34, 0)); }));

        picture("user", DrawFallbackAvatar());
        picture("order", DrawOrder(false));
        picture("orderNew", DrawOrder(true));
        picture("fold", DrawFold(false));
        picture("unfold", DrawFold(true));
        picture("homelink", DrawHomeLink());
        picture("cashlink", DrawCashLink());
        picture("income", DrawIncome());
        picture("scannedorder", DrawScannedOrder());
        picture("menu", DrawMenu(false));
        picture("menu_hover", DrawMenu(true));
        picture("arrow_top", DrawArrow(true));
        picture("arrow_bottom", DrawArrow(false));
    }
    canvasScale = 1;

    return ok ? 0 : 1;
}
