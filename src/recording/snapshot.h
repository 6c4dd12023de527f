// Turning the live frame of a tick into one recorded picture: the optional
// date-and-time stamp, the stretch to a fixed 4:3 size, the preview strip and
// the JPEG file.
#pragma once

#include "recording/local_date_time.h"

#include <QImage>
#include <QSize>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vistrel {

inline constexpr int kJpeg_Quality = 80;

// The picture size of a CBX_JPEG_Size index: 0 "640x480" to 4 "40x30". Any
// other index (a hand-edited settings file, or none selected) records at
// 640 x 480 rather than writing empty files.
QSize Output_Size(int jpeg_size_index);

// "Vistrel | 07/03/2024  14:05:09  00012"
std::string Time_Stamp_Text(const Local_Date_Time& when, uint32_t num_image);

// Pixels per point of the screen; 96 dots per inch when there is no screen.
double Screen_Dpi();

// Burns the stamp into the bottom of the frame in bold white sans-serif of 16
// points at `dpi`, centred as the text "Vistrel | 25/11/2014  22:11:00 12345"
// would be.
void Draw_Time_Stamp(QImage& frame, const Local_Date_Time& when, uint32_t num_image, double dpi);

// The first row of a frame of that height the stamp may touch.
int Time_Stamp_Top(int frame_height, double dpi);

// The whole frame stretched onto `size` by picking pixels (rows and columns
// are dropped or repeated, never averaged). The result is Format_RGB32.
QImage Stretch_Nearest(const QImage& frame, QSize size);

// The same into `out`, whose pixels are reused when it already has that size
// and nobody else holds them.
void Stretch_Nearest_Into(const QImage& frame, QSize size, QImage& out);

// The source index of each of `to` pixels picked out of `from`, as
// Stretch_Nearest picks them.
std::vector<int> Nearest_Index_Table(int from, int to);

// Baseline JPEG of the picture at the given quality, libjpeg's defaults
// otherwise. Throws std::runtime_error when the encoder fails.
std::string Encode_Jpeg(const QImage& picture, int quality = kJpeg_Quality);

// The same with the buffer for the file held below `max_bytes`: a file that
// fills it fails as when memory runs out, after the buffer has grown as far
// as it may (the tests reach that failure through it).
std::string Encode_Jpeg_Within(const QImage& picture, int quality, size_t max_bytes);

// The seven preview thumbnails, newest first.
class Preview_Strip {
public:
    static constexpr size_t kSize = 7;
    static constexpr QSize kThumbnail{35, 35};

    // A thumbnail of the picture becomes the first; the oldest drops out.
    void Push(const QImage& picture);
    void Clear();
    const QImage& At(size_t index) const { return pictures_[index]; }

private:
    std::array<QImage, kSize> pictures_;
};

struct Snapshot_Request {
    std::string full_folder; // ends in "/"
    std::string file_name;   // without ".jpg"
    Local_Date_Time when;
    uint32_t num_image = 0;
    bool add_time_date = false; // CKB_Add_Time_Date
    int jpeg_size_index = 0;    // CBX_JPEG_Size
    double dpi = 96.0;
};

// Turns live frames into picture files, keeping its picture buffer from one
// call to the next.
class Snapshot_Writer {
public:
    // Stamps the live frame when asked, stretches it, pushes it into the
    // preview strip, creates the folder and writes full_folder + file_name +
    // ".jpg" in one step (a half-written picture is never seen under its
    // name). Throws on any failure; what was done before it (stamp, preview)
    // stays.
    void Save_Snapshot(QImage& live_frame, const Snapshot_Request& request,
                       Preview_Strip& previews);

private:
    QImage picture_;
};

} // namespace vistrel
