#include "assets.h"

#include <QBuffer>
#include <QColor>
#include <QCryptographicHash>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtMath>

namespace Velm {

namespace {

enum class Dish
{
    Bowl,
    Plate,
    Steamer,
    Glass,
    Bun,
    EggDish
};

struct DishLook
{
    const char* name;
    Dish dish;
    QRgb food;    // broth, rice, drink ...
    QRgb topping; // noodles, egg, meat ...
    QRgb accent;  // greens, chili ...
};

// The looks of the demo shop's menu; other names get a plate in colours taken from the name.
const DishLook Looks[] = {
    {"beef-noodles", Dish::Bowl, 0xffb0683a, 0xfff3d27a, 0xff4caf50},
    {"braised-noodles", Dish::Bowl, 0xff8d3b1f, 0xfff0c96a, 0xff7a3b22},
    {"hot-sour-noodles", Dish::Bowl, 0xffd84315, 0xffb39ddb, 0xff66bb6a},
    {"fried-rice", Dish::Plate, 0xfffff3d6, 0xfffdd835, 0xff8bc34a},
    {"cold-noodles", Dish::Plate, 0xfff5e6c4, 0xffe53935, 0xff81c784},
    {"cucumber", Dish::Plate, 0xff9ccc65, 0xffe8f5e9, 0xffe53935},
    {"dumplings", Dish::Plate, 0xfffdf1d6, 0xfff5f5f5, 0xff5d4037},
    {"xiaolongbao", Dish::Steamer, 0xffc19a6b, 0xfffffdf5, 0xffe0c9a6},
    {"roujiamo", Dish::Bun, 0xffe0a050, 0xff8d4925, 0xff66bb6a},
    {"braised-egg", Dish::EggDish, 0xff8d5a2b, 0xff6d4c41, 0xfffdd835},
    {"plum-juice", Dish::Glass, 0xff7b1f2a, 0xffffffff, 0xffd32f2f},
    {"soy-milk", Dish::Glass, 0xfffff8e1, 0xffffffff, 0xff42a5f5},
};

QByteArray Png(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void DrawTable(QPainter& p, const QRectF& r)
{
    QLinearGradient wood(r.topLeft(), r.bottomLeft());
    wood.setColorAt(0, QColor(0xfb, 0xf1, 0xe4));
    wood.setColorAt(1, QColor(0xee, 0xd9, 0xbf));
    p.fillRect(r, wood);
}

void DrawNoodles(QPainter& p, const QRectF& area, QColor colour)
{
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(colour, 3, Qt::SolidLine, Qt::RoundCap));
    for (int line = 0; line < 7; ++line) {
        QPainterPath path;
        const qreal y = area.top() + area.height() * (0.2 + 0.1 * line);
        path.moveTo(area.left() + 10, y);
        for (qreal x = area.left() + 10; x < area.right() - 10; x += 4)
            path.lineTo(x, y + 4 * qSin((x + line * 13) / 9.0));
        p.drawPath(path);
    }
}

void DrawBowl(QPainter& p, const DishLook& look, const QRectF& r)
{
    const QRectF rim(r.center().x() - 100, r.top() + 30, 200, 60);
    QPainterPath body;
    body.moveTo(rim.left(), rim.center().y());
    body.cubicTo(rim.left() + 10, r.bottom() - 5, rim.right() - 10, r.bottom() - 5, rim.right(),
                 rim.center().y());
    body.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf4, 0xf4, 0xf4));
    p.drawPath(body);
    p.setPen(QPen(QColor(0x1e, 0x5a, 0xa8), 4));
    p.drawLine(QPointF(rim.left() + 30, rim.bottom() + 25), QPointF(rim.right() - 30, rim.bottom() + 25));
    p.setPen(QPen(QColor(0xdd, 0xdd, 0xdd), 2));
    p.setBrush(QColor(look.food));
    p.drawEllipse(rim);
    DrawNoodles(p, rim.adjusted(15, 8, -15, -8), QColor(look.topping));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(look.accent));
    for (int i = 0; i < 6; ++i)
        p.drawEllipse(QPointF(rim.left() + 50 + i * 20, rim.top() + 14 + (i % 2) * 24), 6, 4);
}

void DrawPlate(QPainter& p, const DishLook& look, const QRectF& r)
{
    const QRectF plate(r.center().x() - 120, r.top() + 35, 240, 120);
    p.setPen(QPen(QColor(0xd8, 0xd8, 0xd8), 2));
    p.setBrush(Qt::white);
    p.drawEllipse(plate);
    p.drawEllipse(plate.adjusted(22, 12, -22, -12));
    const QRectF food = plate.adjusted(45, 22, -45, -22);
    p.setPen(Qt::NoPen);
    if (QLatin1String(look.name) == QLatin1String("dumplings")) {
        for (int i = 0; i < 6; ++i) {
            const QPointF c(food.left() + 25 + (i % 3) * 50, food.top() + 20 + (i / 3) * 34);
            p.setBrush(QColor(look.food));
            p.setPen(QPen(QColor(0xcc, 0xcc, 0xcc), 1.5));
            p.drawChord(QRectF(c.x() - 24, c.y() - 18, 48, 36), 0, 180 * 16);
            p.setPen(QPen(QColor(0xbb, 0xbb, 0xbb), 1));
            for (int f = -2; f <= 2; ++f)
                p.drawLine(QPointF(c.x() + f * 8, c.y() - 12 + qAbs(f) * 2),
                           QPointF(c.x() + f * 7, c.y() - 4));
        }
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(look.accent));
        p.drawEllipse(QPointF(plate.right() - 40, plate.center().y()), 14, 9);
        return;
    }
    p.setBrush(QColor(look.food));
    p.drawEllipse(food);
    QRandomGenerator dots(qHash(QLatin1String(look.name)));
    for (int i = 0; i < 40; ++i) {
        const qreal a = dots.bounded(360) * M_PI / 180.0;
        const qreal d = dots.bounded(100) / 100.0;
        const QPointF at(food.center().x() + qCos(a) * d * food.width() / 2.2,
                         food.center().y() + qSin(a) * d * food.height() / 2.2);
        p.setBrush(QColor(i % 3 == 0 ? look.accent : look.topping));
        p.drawEllipse(at, 5, 3.5);
    }
}

void DrawSteamer(QPainter& p, const DishLook& look, const QRectF& r)
{
    const QRectF basket(r.center().x() - 115, r.top() + 30, 230, 130);
    p.setPen(QPen(QColor(look.food).darker(130), 3));
    p.setBrush(QColor(look.food));
    p.drawEllipse(basket);
    p.setBrush(QColor(look.accent));
    p.drawEllipse(basket.adjusted(14, 10, -14, -10));
    for (int i = 0; i < 6; ++i) {
        const QPointF c(basket.left() + 60 + (i % 3) * 55, basket.top() + 45 + (i / 3) * 42);
        p.setPen(QPen(QColor(0xdd, 0xd5, 0xc5), 1.5));
        p.setBrush(QColor(look.topping));
        p.drawEllipse(c, 24, 18);
        for (int f = 0; f < 6; ++f) {
            const qreal a = f * M_PI / 3;
            p.drawLine(c, QPointF(c.x() + qCos(a) * 9, c.y() + qSin(a) * 7));
        }
    }
}

void DrawGlass(QPainter& p, const DishLook& look, const QRectF& r)
{
    const qreal cx = r.center().x();
    QPolygonF glass;
    glass << QPointF(cx - 45, r.top() + 20) << QPointF(cx + 45, r.top() + 20)
          << QPointF(cx + 35, r.bottom() - 12) << QPointF(cx - 35, r.bottom() - 12);
    QPolygonF drink;
    drink << QPointF(cx - 42, r.top() + 45) << QPointF(cx + 42, r.top() + 45)
          << QPointF(cx + 35, r.bottom() - 15) << QPointF(cx - 35, r.bottom() - 15);
    p.setPen(QPen(QColor(look.accent), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(cx + 10, r.top() + 60), QPointF(cx + 40, r.top() + 2));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(look.food));
    p.drawPolygon(drink);
    p.setPen(QPen(QColor(0xbb, 0xbb, 0xbb), 2));
    p.setBrush(QColor(255, 255, 255, 60));
    p.drawPolygon(glass);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 120));
    p.drawRect(QRectF(cx - 30, r.top() + 50, 8, 90));
}

void DrawBun(QPainter& p, const DishLook& look, const QRectF& r)
{
    const QRectF bun(r.center().x() - 95, r.top() + 30, 190, 125);
    p.setPen(QPen(QColor(look.food).darker(140), 2));
    p.setBrush(QColor(look.food));
    p.drawEllipse(bun);
    p.setBrush(QColor(look.topping));
    p.drawChord(bun.adjusted(20, 40, -20, -20), 0, 180 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(look.accent));
    for (int i = 0; i < 5; ++i)
        p.drawEllipse(QPointF(bun.left() + 55 + i * 20, bun.center().y() + 12), 5, 3);
    p.setPen(QPen(QColor(look.food).lighter(120), 2));
    for (int i = 0; i < 4; ++i)
        p.drawArc(bun.adjusted(30 + i * 12, 15 + i * 6, -30 - i * 12, -60 - i * 3), 30 * 16, 120 * 16);
}

void DrawEggs(QPainter& p, const DishLook& look, const QRectF& r)
{
    const QRectF dish(r.center().x() - 110, r.top() + 45, 220, 110);
    p.setPen(QPen(QColor(0xd8, 0xd8, 0xd8), 2));
    p.setBrush(Qt::white);
    p.drawEllipse(dish);
    for (int i = 0; i < 2; ++i) {
        const QRectF egg(dish.left() + 45 + i * 70, dish.top() + 20, 60, 72);
        p.setPen(QPen(QColor(look.topping), 2));
        p.setBrush(QColor(look.food));
        p.drawEllipse(egg);
    }
    const QRectF half(dish.left() + 45 + 140 - 25, dish.top() + 30, 50, 56);
    p.setBrush(QColor(look.food));
    p.drawEllipse(half);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(look.accent));
    p.drawEllipse(half.center(), 13, 15);
}

QByteArray DrawItem(const QString& name)
{
    DishLook look{"", Dish::Plate, 0, 0, 0};
    bool known = false;
    for (const DishLook& candidate : Looks) {
        if (name == QLatin1String(candidate.name)) {
            look = candidate;
            known = true;
        }
    }
    if (!known) {
        const uint hash = qHash(name);
        look.food = QColor::fromHsv(static_cast<int>(hash % 360), 90, 240).rgb();
        look.topping = QColor::fromHsv(static_cast<int>((hash / 7) % 360), 160, 220).rgb();
        look.accent = QColor::fromHsv(static_cast<int>((hash / 13) % 360), 200, 180).rgb();
    }
    // The same proportions as the client's placeholder for a picture still loading (150 x 91).
    QImage image(300, 182, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = image.rect();
    DrawTable(p, r);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 25));
    p.drawEllipse(QRectF(r.center().x() - 120, r.bottom() - 40, 240, 30));
    switch (look.dish) {
    case Dish::Bowl:
        DrawBowl(p, look, r);
        break;
    case Dish::Plate:
        DrawPlate(p, look, r);
        break;
    case Dish::Steamer:
        DrawSteamer(p, look, r);
        break;
    case Dish::Glass:
        DrawGlass(p, look, r);
        break;
    case Dish::Bun:
        DrawBun(p, look, r);
        break;
    case Dish::EggDish:
        DrawEggs(p, look, r);
        break;
    }
    p.end();
    return Png(image);
}

QByteArray DrawFace(int number)
{
    static const QRgb backgrounds[] = {0xffffccbc, 0xffc8e6c9, 0xffbbdefb, 0xfffff9c4,
                                       0xffe1bee7, 0xffb2dfdb, 0xfff8bbd0, 0xffd7ccc8};
    static const QRgb shirts[] = {0xffff5500, 0xff43a047, 0xff1e88e5, 0xfffb8c00,
                                  0xff8e24aa, 0xff00897b, 0xffd81b60, 0xff6d4c41};
    static const QRgb hairs[] = {0xff212121, 0xff4e342e, 0xff3e2723, 0xff263238};
    const int i = (number - 1) % 8;
    const bool longHair = number % 2 == 0;

    QImage image(120, 120, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(backgrounds[i]));
    p.drawRoundedRect(QRectF(0, 0, 120, 120), 14, 14);
    p.setClipRect(QRectF(0, 0, 120, 120));
    p.setBrush(QColor(shirts[i]));
    p.drawEllipse(QRectF(18, 88, 84, 60));
    const QColor hair(hairs[number % 4]);
    if (longHair) {
        p.setBrush(hair);
        p.drawRoundedRect(QRectF(30, 28, 60, 66), 26, 26);
    }
    p.setBrush(QColor(0xff, 0xdb, 0xb8));
    p.drawEllipse(QRectF(36, 30, 48, 56));
    p.setBrush(hair);
    p.drawChord(QRectF(34, 24, 52, 40), 0, 180 * 16);
    p.setBrush(QColor(0x33, 0x33, 0x33));
    p.drawEllipse(QPointF(50, 58), 3.5, 4);
    p.drawEllipse(QPointF(70, 58), 3.5, 4);
    p.setBrush(QColor(255, 120, 120, 90));
    p.drawEllipse(QPointF(45, 68), 5, 3);
    p.drawEllipse(QPointF(75, 68), 5, 3);
    p.setPen(QPen(QColor(0xa0, 0x4a, 0x3a), 2.2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(50, 62, 20, 14), 200 * 16, 140 * 16);
    p.end();
    return Png(image);
}

const char* const PageStyle =
    "<style>body{font-family:sans-serif;margin:0;background:#f6f6f6;color:#333}"
    "header{background:#f50;color:#fff;padding:18px 32px;font-size:22px}"
    "main{max-width:640px;margin:32px auto;background:#fff;padding:24px 32px;border-radius:6px}"
    "a{color:#f50}label{display:block;margin:12px 0 4px}input{width:100%;padding:6px}"
    "button{margin-top:16px;background:#f50;color:#fff;border:none;padding:8px 20px;border-radius:3px}"
    "p.note{color:#888;font-size:13px}</style>";

QByteArray MakePage(const QString& title, const QString& body)
{
    const QString html = QStringLiteral("<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
                                        "<title>") +
                         title + QStringLiteral(" - Velm</title>") + QLatin1String(PageStyle) +
                         QStringLiteral("</head><body><header>Velm 商家平台</header><main><h1>") + title +
                         QStringLiteral("</h1>") + body +
                         QStringLiteral("<p class=\"note\">本页面由本地演示平台 velm-platform 提供。</p>"
                                        "</main></body></html>");
    return html.toUtf8();
}

} // namespace

QString Assets::FacePath(int number)
{
    return QStringLiteral("/img/face/%1.png").arg(number);
}

QString Assets::ItemPath(const QString& name)
{
    return QStringLiteral("/img/item/") + name + QStringLiteral(".png");
}

bool Assets::IsOfferedItem(const QString& name)
{
    // The menu's pictures and the plate of items made without one; nothing else is drawn, so the
    // cache holds at most these and the 99 faces.
    if (name == QLatin1String(DefaultItem))
        return true;
    for (const DishLook& look : Looks) {
        if (name == QLatin1String(look.name))
            return true;
    }
    return false;
}

size_t Assets::CachedBytes()
{
    std::lock_guard<std::mutex> lock(mutex);
    size_t bytes = 0;
    for (const QByteArray& entry : qAsConst(cache))
        bytes += static_cast<size_t>(entry.size());
    return bytes;
}

QByteArray Assets::Picture(const QString& kind, const QString& name)
{
    static const QRegularExpression itemName(QStringLiteral("^[a-z0-9][a-z0-9-]{0,40}$"));
    static const QRegularExpression faceNumber(QStringLiteral("^[1-9][0-9]?$"));
    const bool face = kind == QLatin1String("face");
    if (face ? !faceNumber.match(name).hasMatch()
             : kind != QLatin1String("item") || !itemName.match(name).hasMatch() || !IsOfferedItem(name))
        return QByteArray();
    const QString key = kind + QLatin1Char('/') + name;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto found = cache.constFind(key);
        if (found != cache.constEnd())
            return found.value();
    }
    const QByteArray png = face ? DrawFace(name.toInt()) : DrawItem(name);
    std::lock_guard<std::mutex> lock(mutex);
    cache.insert(key, png);
    return png;
}

QString Assets::InstallerFileName(const QString& build)
{
    return QStringLiteral("tarvik-setup-") + build + QStringLiteral(".sh");
}

QByteArray Assets::InstallerBytes(const QString& build)
{
    QByteArray bytes =
        "#!/bin/sh\n"
        "# Tarvik " +
        build.toUtf8() +
        " installer from the local demo platform (velm-platform).\n"
        "# It installs nothing: the local platform only shows how an update reaches the client.\n"
        "echo \"Tarvik " +
        build.toUtf8() +
        ": this demo installer has nothing to install.\"\n"
        "exit 0\n";
    // Padding after the script, so that the client's download progress has something to show.
    const QByteArray line =
        "# ............................................................................\n";
    while (bytes.size() < 384 * 1024)
        bytes.append(line);
    return bytes;
}

QString Assets::InstallerSha256(const QString& build)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(InstallerBytes(build), QCryptographicHash::Sha256).toHex());
}

QByteArray Assets::Installer(const QString& build)
{
    const QString key = QStringLiteral("installer/") + build;
    std::lock_guard<std::mutex> lock(mutex);
    auto found = cache.constFind(key);
    if (found != cache.constEnd())
        return found.value();
    const QByteArray bytes = InstallerBytes(build);
    // One installer is kept: the offered build changes now and then, the old one is not asked for.
    for (auto it = cache.begin(); it != cache.end();)
        it = it.key().startsWith(QLatin1String("installer/")) ? cache.erase(it) : std::next(it);
    cache.insert(key, bytes);
    return bytes;
}

QByteArray Assets::Page(const QString& path)
{
    if (path == QLatin1String("/") || path == QLatin1String("/index.html"))
        return MakePage(QStringLiteral("首页"),
                        QStringLiteral("<p>欢迎来到 Velm 商家平台。店员请使用 Tarvik 客户端登录，"
                                       "接收订单、结束服务、回复评价、查看收入。</p>"
                                       "<ul><li><a href=\"reg.php\">注册商家账号</a></li>"
                                       "<li><a href=\"forget.php\">找回密码</a></li>"
                                       "<li><a href=\"amy.php\">提现</a></li></ul>"));
    if (path == QLatin1String("/reg.php"))
        return MakePage(
            QStringLiteral("注册"),
            QStringLiteral("<form onsubmit=\"return false\"><label>手机号</label><input name=\"mobile\">"
                           "<label>密码</label><input name=\"pass\" type=\"password\">"
                           "<button>注册</button></form>"
                           "<p>本地演示平台不开放注册，请使用 README 中的演示账号登录。</p>"));
    if (path == QLatin1String("/forget.php"))
        return MakePage(
            QStringLiteral("找回密码"),
            QStringLiteral("<form onsubmit=\"return false\"><label>手机号</label><input name=\"mobile\">"
                           "<button>发送验证码</button></form>"
                           "<p>本地演示平台不发送短信，演示账号的密码见 README。</p>"));
    if (path == QLatin1String("/amy.php"))
        return MakePage(QStringLiteral("提现"),
                        QStringLiteral("<p>店铺余额可提现到绑定的支付宝账户，一般一个工作日内到账。</p>"
                                       "<form onsubmit=\"return false\"><label>提现金额（元）</label>"
                                       "<input name=\"amount\"><button>申请提现</button></form>"
                                       "<p>本地演示平台不处理提现。</p>"));
    return QByteArray();
}

} // namespace Velm
