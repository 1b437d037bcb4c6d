// Build-time tool: draws the bundle's images from their SVG sources and writes the Qt
// resource collection (.qrc) that rcc compiles into postwatch.rcc.
//
//   pw_bundletool <resources source folder> <output folder>
//
// Writes <output>/images/<number>.png and <number>@2x.png for every line of
// images/images.tsv, and <output>/postwatch.qrc naming those images together with the string
// tables, menus, toolbars and bundle.json straight from the source folder. Exits 1 with a
// message naming the file and line on any error, so a broken source fails the build instead
// of shipping a bundle with holes.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSvgRenderer>
#include <QTextStream>
#include <cstdio>
#include <map>
#include <set>

namespace
{

enum class Look { Normal, Hot, Disabled };

[[noreturn]] void Die(const QString& message)
{
    std::fprintf(stderr, "pw_bundletool: %s\n", qPrintable(message));
    std::exit(1);
}

// Hot: a little lighter, like the flat menu style's lighten(c, f) = c + f * (255 - c).
// Disabled: grey by luminance, lightened and half transparent, so it reads as unavailable on
// light and dark toolbars alike.
QImage ApplyLook(const QImage& source, Look look)
{
    if (look == Look::Normal)
        return source;
    QImage image = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            int r = qRed(p), g = qGreen(p), b = qBlue(p), a = qAlpha(p);
            if (look == Look::Hot) {
                r += (255 - r) * 15 / 100;
                g += (255 - g) * 15 / 100;
                b += (255 - b) * 15 / 100;
            } else {
                const int grey = qGray(r, g, b);
                r = g = b = grey + (255 - grey) * 35 / 100;
                a = a * 55 / 100;
            }
            line[x] = qRgba(r, g, b, a);
        }
    }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage Render(const QString& svgDir, const QStringList& names, int size, Look look,
              const QString& where)
{
    QImage strip(size * int(names.size()), size, QImage::Format_ARGB32_Premultiplied);
    strip.fill(Qt::transparent);
    QPainter painter(&strip);
    painter.setRenderHint(QPainter::Antialiasing);
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (names[i] == "-")
            continue;
        const QString path = svgDir + "/" + names[i] + ".svg";
        if (!QFileInfo::exists(path))
            Die(where + ": no SVG named \"" + names[i] + "\" (" + path + ")");
        QSvgRenderer renderer(path);
        if (!renderer.isValid())
            Die(where + ": " + path + " is not a valid SVG");
        renderer.render(&painter, QRectF(double(i) * size, 0, size, size));
    }
    painter.end();
    return ApplyLook(strip, look);
}

void Save(const QImage& image, const QString& path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit())
        Die("cannot write " + path);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        Die("usage: pw_bundletool <resources source folder> <output folder>");
    const QString source = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const QString output = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    if (!QDir().mkpath(output + "/images"))
        Die("cannot create " + output + "/images");

    const QString manifestPath = source + "/images/images.tsv";
    QFile manifest(manifestPath);
    if (!manifest.open(QIODevice::ReadOnly | QIODevice::Text))
        Die("cannot read " + manifestPath);
    std::set<unsigned> ids;
    QStringList qrcEntries;
    int lineNo = 0;
    while (!manifest.atEnd()) {
        const QString line = QString::fromUtf8(manifest.readLine()).trimmed();
        ++lineNo;
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QString where = manifestPath + " line " + QString::number(lineNo);
        QStringList fields = line.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
        if (fields.size() < 4)
            Die(where + ": expected number, size, look and at least one SVG name");
        bool ok = false;
        const unsigned id = fields[0].toUInt(&ok);
        if (!ok || id == 0 || id > 65535)
            Die(where + ": \"" + fields[0] + "\" is not an image number");
        if (!ids.insert(id).second)
            Die(where + ": the image number " + fields[0] + " appears twice");
        const int size = fields[1].toInt(&ok);
        if (!ok || size < 8 || size > 256)
            Die(where + ": the size must be 8..256");
        Look look = Look::Normal;
        if (fields[2] == "hot")
            look = Look::Hot;
        else if (fields[2] == "disabled")
            look = Look::Disabled;
        else if (fields[2] != "normal")
            Die(where + ": the look must be normal, hot or disabled");
        const QStringList names = fields.mid(3);
        for (int scale : {1, 2}) {
            const QString name =
                QString::number(id) + (scale == 2 ? QStringLiteral("@2x") : QString()) + ".png";
            Save(Render(source + "/svg", names, size * scale, look, where),
                 output + "/images/" + name);
            qrcEntries << "postwatch/images/" + name + "\t" + output + "/images/" + name;
        }
    }

    // Everything else is taken as it is from the source folder.
    qrcEntries << "postwatch/bundle.json\t" + source + "/bundle.json";
    const std::map<QString, QString> folders = {
        {"strings", "*.tsv"}, {"menus", "*.json"}, {"toolbars", "*.json"}};
    for (const auto& [folder, pattern] : folders) {
        const QDir dir(source + "/" + folder);
        for (const QString& file : dir.entryList({pattern}, QDir::Files, QDir::Name))
            qrcEntries << "postwatch/" + folder + "/" + file + "\t" + dir.filePath(file);
    }

    QString qrc = "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n<qresource prefix=\"/\">\n";
    for (const QString& entry : qrcEntries) {
        const QStringList parts = entry.split('\t');
        qrc += "  <file alias=\"" + parts[0].toHtmlEscaped() + "\">" + parts[1].toHtmlEscaped() +
               "</file>\n";
    }
    qrc += "</qresource>\n</RCC>\n";
    QSaveFile qrcFile(output + "/postwatch.qrc");
    if (!qrcFile.open(QIODevice::WriteOnly) || qrcFile.write(qrc.toUtf8()) < 0 || !qrcFile.commit())
        Die("cannot write " + output + "/postwatch.qrc");
    return 0;
}
