#pragma once

#include <QByteArray>
#include <QString>

// Seed files the test fixtures do not make: layouts whose readers had faults (an OS/2 2.x bitmap,
// a GIF frame off its screen's origin, PostScript with and without a DOS binary header, a
// placeable metafile, an Adobe CMYK JPEG).
namespace pixavant::fuzzseeds {

QByteArray os2V2Bitmap(int width, int height);
// `gif` (a GIF with one frame) on a logical screen of that size, its frame at left, top.
QByteArray gifOnScreen(const QByteArray& gif, int screenWidth, int screenHeight, int left, int top);
QByteArray placeableMetafile();
QByteArray epsFile(int width, int height, bool binaryHeader);
QByteArray cmykJpeg(int width, int height);

}  // namespace pixavant::fuzzseeds
