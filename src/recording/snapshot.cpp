#include "recording/snapshot.h"

#include "base/file_helpers.h"
#include "base/text_helpers.h"
#include "capture/jpeg_error_guard.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace vistrel {

namespace {

constexpr const char* kMeasuring_Text = "Vistrel | 25/11/2014  22:11:00 12345";
constexpr int kStamp_Points = 16;

std::string Padded(int32_t value, int32_t width) {
    return Pad_Left(Int_To_Str(value, 0), width, "0");
}

QFont Stamp_Font(double dpi) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setPixelSize(static_cast<int>(std::lround(kStamp_Points * dpi / 72.0)));
    return font;
}

// Where the encoder writes: one block of memory, grown with realloc and
// owned by whoever holds this, whichever way the encoding ends. libjpeg's
// own memory destination frees its block when it grows it but leaves the
// caller's pointer at the freed one until the encoding ends, so that after
// an error there the caller cannot tell which block is left to free.
struct Memory_Destination {
    jpeg_destination_mgr pub{}; // first: libjpeg's pointer to it is one to this
    unsigned char* data = nullptr;
    size_t capacity = 0;
    size_t size = 0;
    size_t limit = SIZE_MAX;

    Memory_Destination() = default;
    ~Memory_Destination() { std::free(data); }
    Memory_Destination(const Memory_Destination&) = delete;
    Memory_Destination& operator=(const Memory_Destination&) = delete;
};

// A 640 x 480 picture at quality 80 mostly fits; larger ones grow the block.
constexpr size_t kFirst_Output_Block = 64 * 1024;

Memory_Destination& Destination_Of(j_compress_ptr cinfo) {
    return *reinterpret_cast<Memory_Destination*>(cinfo->dest);
}

void Start_Output(j_compress_ptr cinfo) {
    Memory_Destination& dest = Destination_Of(cinfo);
    if (dest.data == nullptr) {
        dest.capacity = std::min(kFirst_Output_Block, dest.limit);
        dest.data = static_cast<unsigned char*>(std::malloc(std::max<size_t>(dest.capacity, 1)));
        if (dest.data == nullptr)
            ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 10);
    }
    dest.pub.next_output_byte = dest.data;
    dest.pub.free_in_buffer = dest.capacity;
}

boolean Grow_Output(j_compress_ptr cinfo) {
    Memory_Destination& dest = Destination_Of(cinfo);
    const size_t grown = dest.capacity > dest.limit / 2 ? dest.limit : dest.capacity * 2;
    if (grown <= dest.capacity)
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 11);
    // On failure realloc leaves the block as it was, still ours to free.
    auto* bigger = static_cast<unsigned char*>(std::realloc(dest.data, grown));
    if (bigger == nullptr)
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 11);
    dest.data = bigger;
    dest.pub.next_output_byte = bigger + dest.capacity;
    dest.pub.free_in_buffer = grown - dest.capacity;
    dest.capacity = grown;
    return TRUE;
}

void End_Output(j_compress_ptr cinfo) {
    Memory_Destination& dest = Destination_Of(cinfo);
    dest.size = dest.capacity - dest.pub.free_in_buffer;
}

// Compresses BGRx rows (QImage's RGB32 on little-endian) into `dest`; false
// with the guard's message when libjpeg fails. Holds no C++ object with a
// destructor: a libjpeg error jumps back to its start.
bool Compress_Bgrx(const QImage& picture, int quality, Memory_Destination& dest,
                   Jpeg_Error_Guard& guard) {
    jpeg_compress_struct cinfo{};
    cinfo.err = Use_Guard(guard);
    if (setjmp(guard.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    dest.pub.init_destination = Start_Output;
    dest.pub.empty_output_buffer = Grow_Output;
    dest.pub.term_destination = End_Output;
    cinfo.dest = &dest.pub;
    cinfo.image_width = static_cast<JDIMENSION>(picture.width());
    cinfo.image_height = static_cast<JDIMENSION>(picture.height());
    // libjpeg-turbo reads the 32-bit rows directly; the file is the one that
    // three-component RGB rows give.
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(picture.constScanLine(static_cast<int>(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

} // namespace

std::vector<int> Nearest_Index_Table(int from, int to) {
    std::vector<int> table(static_cast<size_t>(to));
    for (int i = 0; i < to; ++i)
        table[static_cast<size_t>(i)] = static_cast<int>(int64_t{i} * from / to);
    return table;
}

QSize Output_Size(int jpeg_size_index) {
    static constexpr int kWidths[] = {640, 320, 160, 80, 40};
    const int width =
        (jpeg_size_index >= 0 && jpeg_size_index < 5) ? kWidths[jpeg_size_index] : 640;
    return {width, width * 3 / 4};
}

std::string Time_Stamp_Text(const Local_Date_Time& when, uint32_t num_image) {
    return "Vistrel | " + Padded(when.day, 2) + "/" + Padded(when.month, 2) + "/" +
           Padded(when.year, 4) + "  " + Padded(when.hour, 2) + ":" + Padded(when.minute, 2) + ":" +
           Padded(when.second, 2) + "  " + Pad_Left(std::to_string(num_image), 5, "0");
}

double Screen_Dpi() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr)
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            return screen->logicalDotsPerInchY();
    return 96.0;
}

void Draw_Time_Stamp(QImage& frame, const Local_Date_Time& when, uint32_t num_image, double dpi) {
    if (frame.isNull())
        return;
    const QFont font = Stamp_Font(dpi);
    const QFontMetrics metrics(font);
    const int text_width = metrics.horizontalAdvance(QString::fromLatin1(kMeasuring_Text));
    const int text_height = metrics.height();
    const int x = frame.width() / 2 - text_width / 2;
    const int y = frame.height() - text_height;

    QPainter painter(&frame);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.setBrush(Qt::NoBrush);
    painter.setBackgroundMode(Qt::TransparentMode);
    painter.drawText(x, y + metrics.ascent(),
                     QString::fromStdString(Time_Stamp_Text(when, num_image)));
}

int Time_Stamp_Top(int frame_height, double dpi) {
    // Anti-aliased edges may reach a row above the text's box.
    const int text_height = QFontMetrics(Stamp_Font(dpi)).height();
    return std::max(0, frame_height - text_height - 1);
}

void Stretch_Nearest_Into(const QImage& frame, QSize size, QImage& out) {
    if (out.size() != size || out.format() != QImage::Format_RGB32 || !out.isDetached())
        out = QImage(size, QImage::Format_RGB32);
    if (out.isNull())
        return;
    const QImage source = frame.format() == QImage::Format_RGB32
                              ? frame
                              : frame.convertToFormat(QImage::Format_RGB32);
    if (source.isNull()) {
        out.fill(Qt::black);
        return;
    }
    const int width = size.width();
    const std::vector<int> rows = Nearest_Index_Table(source.height(), size.height());
    uchar* const out_bits = out.bits();
    const qsizetype out_line = out.bytesPerLine();
    const auto row_of = [&](int y) { return reinterpret_cast<uint32_t*>(out_bits + y * out_line); };
    const auto source_row = [&](int y) {
        return reinterpret_cast<const uint32_t*>(source.constScanLine(rows[size_t(y)]));
    };
    // The picture sizes divide the usual camera widths: column x is then
    // column x * k exactly as the table would give it, and the table is not
    // needed.
    if (source.width() % width == 0) {
        const int k = source.width() / width;
        for (int y = 0; y < size.height(); ++y) {
            const uint32_t* from = source_row(y);
            uint32_t* to = row_of(y);
            if (k == 1)
                std::memcpy(to, from, size_t(width) * 4);
            else
                for (int x = 0; x < width; ++x)
                    to[x] = from[x * k];
        }
        return;
    }
    const std::vector<int> columns = Nearest_Index_Table(source.width(), width);
    for (int y = 0; y < size.height(); ++y) {
        const uint32_t* from = source_row(y);
        uint32_t* to = row_of(y);
        for (int x = 0; x < width; ++x)
            to[x] = from[columns[size_t(x)]];
    }
}

QImage Stretch_Nearest(const QImage& frame, QSize size) {
    QImage out;
    Stretch_Nearest_Into(frame, size, out);
    return out;
}

std::string Encode_Jpeg(const QImage& picture, int quality) {
    return Encode_Jpeg_Within(picture, quality, SIZE_MAX);
}

std::string Encode_Jpeg_Within(const QImage& picture, int quality, size_t max_bytes) {
    const QImage source = picture.format() == QImage::Format_RGB32
                              ? picture
                              : picture.convertToFormat(QImage::Format_RGB32);
    if (source.isNull())
        throw std::runtime_error("no picture to encode");
    Memory_Destination dest;
    dest.limit = max_bytes;
    Jpeg_Error_Guard guard;
    if (!Compress_Bgrx(source, quality, dest, guard))
        throw std::runtime_error(std::string("JPEG encoding failed: ") + guard.message);
    return std::string(reinterpret_cast<const char*>(dest.data), dest.size);
}

void Preview_Strip::Push(const QImage& picture) {
    for (size_t i = kSize - 1; i > 0; --i)
        pictures_[i] = pictures_[i - 1];
    // A thumbnail of its own, so that the picture's pixels can be reused.
    pictures_[0] = picture.scaled(kThumbnail, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

void Preview_Strip::Clear() {
    for (size_t i = kSize; i > 0; --i)
        pictures_[i - 1] = QImage();
}

void Snapshot_Writer::Save_Snapshot(QImage& live_frame, const Snapshot_Request& request,
                                    Preview_Strip& previews) {
    if (request.add_time_date)
        Draw_Time_Stamp(live_frame, request.when, request.num_image, request.dpi);
    Stretch_Nearest_Into(live_frame, Output_Size(request.jpeg_size_index), picture_);
    const QImage& picture = picture_;
    previews.Push(picture);

    std::error_code folder_error;
    std::filesystem::create_directories(request.full_folder, folder_error);
    // Waiting for the disk on every picture would stall the tick; a picture
    // is either whole under its name or absent, and its copy goes to the
    // FTP server.
    try {
        Write_File_Atomically(request.full_folder + request.file_name + ".jpg",
                              Encode_Jpeg(picture), 0666, Durability::Program_Crash,
                              Mode_Rule::Less_Umask);
    } catch (const std::system_error&) {
        // The folder's failure says why better than the missing file does.
        if (folder_error)
            throw std::system_error(folder_error, "cannot make " + request.full_folder);
        throw;
    }
}

} // namespace vistrel
