// Draws the program's icon for the desktop's icon theme: one PNG per size from the SVG that the
// resource bundle draws its own icon from, so the menu and the window show the same picture.
//
//     iconrender SOURCE.svg OUTPUT-FOLDER NAME SIZE...
//
// writes OUTPUT-FOLDER/<SIZE>x<SIZE>/apps/NAME.png. Exit 0 when every size was written.
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: iconrender SOURCE.svg OUTPUT-FOLDER NAME SIZE...\n");
        return 2;
    }
    // No application object: the icon has no text, so no fonts and no platform are needed.
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "iconrender: cannot read %s\n", argv[1]);
        return 1;
    }
    const QString folder = QString::fromLocal8Bit(argv[2]);
    const QString name = QString::fromLocal8Bit(argv[3]);
    for (int i = 4; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size < 1 || size > 1024) {
            std::fprintf(stderr, "iconrender: bad size %s\n", argv[i]);
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.end();
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
        QSaveFile file(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
        if (!QDir().mkpath(dir) || !file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") ||
            !file.commit()) {
            std::fprintf(stderr, "iconrender: cannot write %s\n", qPrintable(file.fileName()));
            return 1;
        }
    }
    return 0;
}
