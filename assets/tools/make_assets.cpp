// Draws the formula picture and the program icon, and writes them into the
// folder given as the first argument:
//   formula.png               257 x 161, 24-bit, greys on white
//   quadrilo.ico              32x32 1-bit, 32x32 4-bit, 16x16 4-bit, masked
//   quadrilo-16.png, -32.png  the 4-bit images, for the desktop icon theme
// Usage: make_assets OUTDIR FACE.ttf (a bold face with the Greek letters and the integral sign)
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRawFont>

#include <array>
#include <cstdio>
#include <vector>

namespace {

constexpr int kLevels = 23; // white, black and 21 greys between

int quantize(int grey)
{
    const int level = (grey * (kLevels - 1) + 127) / 255;
    return (level * 255 + (kLevels - 1) / 2) / (kLevels - 1);
}

struct Box {
    int left, top, right, bottom; // inclusive pixel bounds of the ink
};

QImage blank() {
    QImage image(257, 161, QImage::Format_RGB888);
    image.fill(Qt::white);
    return image;
}

void paint(QImage& image, const QPainterPath& path, const QRectF& to)
{
    const QRectF from = path.boundingRect();
    QTransform map;
    map.translate(to.left(), to.top());
    map.scale(to.width() / from.width(), to.height() / from.height());
    map.translate(-from.left(), -from.top());
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(map.map(path), Qt::black);
}

void quantizeAll(QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const int g = quantize(qGray(image.pixel(x, y)));
            image.setPixel(x, y, qRgb(g, g, g));
        }
}

Box inkOf(const QImage& image)
{
    Box ink{image.width(), image.height(), -1, -1};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != qRgb(255, 255, 255)) {
                ink.left = std::min(ink.left, x);
                ink.right = std::max(ink.right, x);
                ink.top = std::min(ink.top, y);
                ink.bottom = std::max(ink.bottom, y);
            }
    return ink;
}

// The rectangle that makes the path's quantized ink cover exactly `want`:
// antialiasing leaves faint edges blank, so the edges are nudged until the
// first and last inked rows and columns are the wanted ones.
QRectF fit(const QPainterPath& path, const Box& want)
{
    double l = want.left, t = want.top, r = want.right + 1.0, b = want.bottom + 1.0;
    constexpr double nudge = 0.05;
    for (int round = 0; round < 400; ++round) {
        QImage scratch = blank();
        paint(scratch, path, QRectF(QPointF(l, t), QPointF(r, b)));
        quantizeAll(scratch);
        const Box ink = inkOf(scratch);
        if (ink.left == want.left && ink.top == want.top && ink.right == want.right &&
            ink.bottom == want.bottom)
            return QRectF(QPointF(l, t), QPointF(r, b));
        l += ink.left > want.left ? -nudge : ink.left < want.left ? nudge : 0;
        t += ink.top > want.top ? -nudge : ink.top < want.top ? nudge : 0;
        r += ink.right < want.right ? nudge : ink.right > want.right ? -nudge : 0;
        b += ink.bottom < want.bottom ? nudge : ink.bottom > want.bottom ? -nudge : 0;
    }
    std::fprintf(stderr, "cannot fit a glyph into %d,%d-%d,%d\n", want.left, want.top,
                 want.right, want.bottom);
    std::exit(1);
}

QImage formula(const QFont& font)
{
    auto text = [&font](const QString& s) {
        QPainterPath path;
        path.addText(0, 0, font, s);
        return path;
    };
    struct Piece {
        QPainterPath path;
        Box box;
    };
    const std::array<Piece, 5> pieces = {{
        {text(QStringLiteral("\u222B")), {40, 34, 72, 126}},                  // integral sign
        {text(QStringLiteral("0")), {51, 134, 59, 145}},                      // lower limit
        {text(QStringLiteral("\u03C6")), {81, 24, 96, 42}},                   // upper limit
        {text(QStringLiteral("f( \u03B1 ; \u03B8 ) d \u03B8")), {84, 72, 204, 91}}, // integrand
        {text(QStringLiteral("=")), {215, 80, 228, 85}},
    }};
    QImage image = blank();
    for (const Piece& piece : pieces)
        paint(image, piece.path, fit(piece.path, piece.box));
    quantizeAll(image);
    return image;
}

// The standard 16-colour palette, and the four of its colours the icon uses.
constexpr std::array<QRgb, 16> kPalette = {
    0xff000000, 0xff800000, 0xff008000, 0xff808000, 0xff000080, 0xff800080,
    0xff008080, 0xffc0c0c0, 0xff808080, 0xffff0000, 0xff00ff00, 0xffffff00,
    0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff};
enum Colour : int { Black = 0, Grey = 8, Cyan = 14, White = 15, Clear = -1 };

// A window seen slightly from the left: the far (right) edge is shorter.
std::vector<int> drawIcon(int size, bool twoColours)
{
    std::vector<int> px(static_cast<std::size_t>(size * size), Clear);
    const double s = size / 32.0;
    auto inside = [&](double x, double y, double dx) {
        // body: left edge x=2..., top slants down towards the right
        const double left = 2 * s + dx, right = 27 * s + dx;
        if (x < left || x > right)
            return false;
        const double f = (x - left) / (right - left);
        const double top = (5 + 2 * f) * s + dx, bottom = (27 - 2 * f) * s + dx;
        return y >= top && y <= bottom;
    };
    auto titleBar = [&](double x, double y) {
        const double left = 2 * s, right = 27 * s;
        const double f = (x - left) / (right - left);
        return y <= (5 + 2 * f) * s + 5 * s;
    };
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double cx = x + 0.5, cy = y + 0.5;
            int& p = px[static_cast<std::size_t>(y * size + x)];
            if (inside(cx, cy, 0)) {
                const bool edge = !inside(cx - 1, cy, 0) || !inside(cx + 1, cy, 0) ||
                                  !inside(cx, cy - 1, 0) || !inside(cx, cy + 1, 0);
                if (edge)
                    p = Black;
                else if (titleBar(cx, cy))
                    p = twoColours ? Black : Cyan;
                else
                    p = White;
            } else if (inside(cx, cy, 3 * s)) {
                p = twoColours ? Black : Grey;
            }
        }
    return px;
}

void put16(QByteArray& out, int v) { out.append(char(v & 0xff)).append(char((v >> 8) & 0xff)); }
void put32(QByteArray& out, quint32 v)
{
    put16(out, int(v & 0xffff));
    put16(out, int(v >> 16));
}

// One icon image: BITMAPINFOHEADER, palette, bottom-up colour bits, AND mask.
QByteArray iconImage(const std::vector<int>& px, int size, int bits)
{
    const int colours = 1 << bits;
    const int xorStride = ((size * bits + 31) / 32) * 4;
    const int andStride = ((size + 31) / 32) * 4;
    QByteArray out;
    put32(out, 40);
    put32(out, quint32(size));
    put32(out, quint32(size * 2));
    put16(out, 1);
    put16(out, bits);
    put32(out, 0);
    put32(out, quint32((xorStride + andStride) * size));
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    for (int i = 0; i < colours; ++i) {
        const QRgb c = bits == 1 ? (i ? 0xffffffff : 0xff000000) : kPalette[std::size_t(i)];
        out.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c))).append('\0');
    }
    for (int y = size - 1; y >= 0; --y) {
        QByteArray row(xorStride, '\0');
        for (int x = 0; x < size; ++x) {
            int index = px[std::size_t(y * size + x)];
            if (index == Clear)
                index = 0;
            else if (bits == 1)
                index = index == White ? 1 : 0;
            if (bits == 1)
                row[x / 8] = char(row[x / 8] | (index << (7 - x % 8)));
            else
                row[x / 2] = char(row[x / 2] | (index << (x % 2 ? 0 : 4)));
        }
        out.append(row);
    }
    for (int y = size - 1; y >= 0; --y) {
        QByteArray row(andStride, '\0');
        for (int x = 0; x < size; ++x)
            if (px[std::size_t(y * size + x)] == Clear)
                row[x / 8] = char(row[x / 8] | (1 << (7 - x % 8)));
        out.append(row);
    }
    return out;
}

QImage iconPng(const std::vector<int>& px, int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const int p = px[std::size_t(y * size + x)];
            image.setPixel(x, y, p == Clear ? 0u : kPalette[std::size_t(p)]);
        }
    return image;
}

bool writeFile(const QString& name, const QByteArray& data)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_assets OUTDIR SANS_BOLD.ttf\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const int id = QFontDatabase::addApplicationFont(QString::fromLocal8Bit(argv[2]));
    if (id < 0) {
        std::fprintf(stderr, "cannot load %s\n", argv[2]);
        return 1;
    }
    QFont font(QFontDatabase::applicationFontFamilies(id).front());
    font.setPixelSize(64);
    font.setBold(true);

    if (!formula(font).save(out + QStringLiteral("/formula.png"), "PNG"))
        return 1;

    struct Entry {
        int size, bits;
    };
    const std::array<Entry, 3> entries = {{{32, 1}, {32, 4}, {16, 4}}};
    QByteArray ico;
    put16(ico, 0);
    put16(ico, 1);
    put16(ico, int(entries.size()));
    std::vector<QByteArray> images;
    quint32 offset = 6 + 16 * entries.size();
    for (const Entry& e : entries) {
        const auto px = drawIcon(e.size, e.bits == 1);
        images.push_back(iconImage(px, e.size, e.bits));
        ico.append(char(e.size)).append(char(e.size)).append(char(e.bits == 1 ? 2 : 16)).append('\0');
        put16(ico, 1);
        put16(ico, e.bits);
        put32(ico, quint32(images.back().size()));
        put32(ico, offset);
        offset += quint32(images.back().size());
        if (e.bits == 4 &&
            !iconPng(px, e.size).save(out + QStringLiteral("/quadrilo-%1.png").arg(e.size), "PNG"))
            return 1;
    }
    for (const QByteArray& image : images)
        ico.append(image);
    return writeFile(out + QStringLiteral("/quadrilo.ico"), ico) ? 0 : 1;
}
