#pragma once

#include "rccwriter.h"

#include <QBuffer>
#include <QImage>

// The smallest archive our loader accepts, as a path -> bytes map that tests then damage.
inline QByteArray TinyPng(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(qRgba(10, 20, 30, 255));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

inline std::map<std::string, QByteArray> MinimalBundleFiles()
{
    return {
        {"postwatch/bundle.json", R"({"format": "postwatch-resources", "version": 1})"},
        {"postwatch/strings/en.tsv", "32899\tKoravel\n32900\tPigeonpost\n"},
        {"postwatch/images/242.png", TinyPng(16, 16)},
        {"postwatch/images/242@2x.png", TinyPng(32, 32)},
        {"postwatch/menus/142.json",
         R"({"id": 142, "items": [{"popup": "A", "items": [
             {"text": "&Check", "command": 32809, "image": 242}]}]})"},
        {"postwatch/toolbars/128.json",
         R"({"id": 128, "imageSize": 16, "bitmaps": {"normal": 242, "hot": 242, "disabled": 242},
             "buttons": [{"command": 32809, "text": 32899}]})"},
    };
}
