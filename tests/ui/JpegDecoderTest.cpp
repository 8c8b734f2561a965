#include "QtPrinters.h"
#include "JpegDecoder.h"
#include "Pictures.h"

#include <gtest/gtest.h>

#include <random>

namespace {

TEST(JpegDecoder, DecodesTheStartPicture)
{
    const QImage picture = DecodeJpeg(StartPictureJpeg());
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(QSize(305, 261), picture.size());
    // Colour, not grey: the background is a blue-violet gradient.
    const QColor corner = picture.pixelColor(20, 20);
    EXPECT_GT(corner.blue(), corner.red());
}

TEST(JpegDecoder, DamagedPicturesGiveNoImageAndNoCrash)
{
    const QByteArray good = StartPictureJpeg();
    ASSERT_GT(good.size(), 1000);
    EXPECT_TRUE(DecodeJpeg(QByteArray()).isNull());
    EXPECT_TRUE(DecodeJpeg(QByteArray("not a picture")).isNull());
    EXPECT_TRUE(DecodeJpeg(good.left(2)).isNull());
    // Cut short, libjpeg pads the rest; it must come back, not end the process.
    DecodeJpeg(good.left(good.size() / 2));
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        QByteArray damaged = good;
        for (int i = 0; i < 20; ++i)
            damaged[int(random() % damaged.size())] = char(random());
        DecodeJpeg(damaged);
    }
}

TEST(JpegDecoder, RefusesAPictureThatClaimsToBeHuge)
{
    QByteArray data = StartPictureJpeg();
    // Make the frame header claim 65535 x 65535.
    const int sof = data.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    data[sof + 5] = char(0xFF);
    data[sof + 6] = char(0xFF);
    data[sof + 7] = char(0xFF);
    data[sof + 8] = char(0xFF);
    EXPECT_TRUE(DecodeJpeg(data).isNull());
}

}  // namespace
