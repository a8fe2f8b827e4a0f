// Build tool (Linux, Qt): draws the program's SVG pictures as the icon and bitmap files that the
// Windows resource script includes, so both programs show the same pictures.
//   vantor-render-win-resources ico OUT.ico IN.svg SIZE...
//   vantor-render-win-resources bmp OUT.bmp IN.svg SIZE RRGGBB
// An icon holds one image per size (32-bit with alpha); a bitmap is 24-bit, drawn over the given
// colour, which the program names as the transparent colour (or maps to the menu's face colour).
#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

QImage render(const char* svgPath, int size, QColor background)
{
    QSvgRenderer svg(QString::fromLocal8Bit(svgPath));
    if (!svg.isValid())
        return {};
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(background);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter);
    painter.end();
    return image;
}

// One single-image ICO as Qt writes it: 6-byte header, one 16-byte entry, the image.
bool icoOf(const QImage& image, QByteArray& out)
{
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    return image.save(&buffer, "ICO") && out.size() > 22;
}

void put16(std::string& s, unsigned v)
{
    s += char(v & 0xff);
    s += char((v >> 8) & 0xff);
}
void put32(std::string& s, unsigned v)
{
    put16(s, v & 0xffff);
    put16(s, v >> 16);
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc >= 5 && std::string(argv[1]) == "ico") {
        std::vector<QByteArray> images;
        for (int i = 4; i < argc; ++i) {
            QImage image = render(argv[3], std::atoi(argv[i]), Qt::transparent);
            QByteArray one;
            if (image.isNull() || !icoOf(image, one)) {
                std::fprintf(stderr, "cannot render %s\n", argv[3]);
                return 1;
            }
            images.push_back(one);
        }
        // The single-image files merged: one header, every entry, then every image.
        std::string out;
        put16(out, 0);
        put16(out, 1);
        put16(out, static_cast<unsigned>(images.size()));
        unsigned offset = 6 + 16 * static_cast<unsigned>(images.size());
        for (const QByteArray& one : images) {
            out.append(one.constData() + 6, 12);  // the entry up to its offset
            put32(out, offset);
            offset += static_cast<unsigned>(one.size() - 22);
        }
        for (const QByteArray& one : images)
            out.append(one.constData() + 22, static_cast<std::size_t>(one.size() - 22));
        std::ofstream(argv[2], std::ios::binary) << out;
        return 0;
    }
    if (argc == 6 && std::string(argv[1]) == "bmp") {
        const QColor background(QString::fromLatin1("#") + QString::fromLatin1(argv[5]));
        QImage image = render(argv[3], std::atoi(argv[4]), background);
        if (image.isNull()
            || !image.convertToFormat(QImage::Format_RGB888).save(QString::fromLocal8Bit(argv[2]), "BMP")) {
            std::fprintf(stderr, "cannot render %s\n", argv[3]);
            return 1;
        }
        return 0;
    }
    std::fprintf(stderr,
                 "usage: vantor-render-win-resources ico OUT.ico IN.svg SIZE... | bmp OUT.bmp IN.svg SIZE RRGGBB\n");
    return 2;
}
