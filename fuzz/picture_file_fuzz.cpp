// Fuzz target: any bytes as a picture file through the host's loader (BMP, PNG, TIFF and STK,
// told apart by their content), and what a picture that loads holds.
#include <QtGlobal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz_folder.h"
#include "zt/zt_picbuf.h"
#include "zthost/zthost.h"

namespace {

// Every pixel of every row is read, so that a row or stride beyond the pixels shows, and no value
// exceeds what its bits can hold.
void CheckPicture(const SZtPicBuf& pic) {
    const std::uint32_t bits = pic.bitsPerComponent;
    const bool known = bits == 1 || bits == 4 || (bits >= 8 && bits <= 16);
    if (pic.width == 0 || pic.height == 0 || !known ||
        (pic.components != 1 && pic.components != 3)) {
        std::abort();
    }
    const std::uint64_t rowBits =
        std::uint64_t{pic.width} * pic.components * (bits > 8 ? 16 : bits);
    if (std::uint64_t{pic.stride} * 8 < rowBits) {
        std::abort();
    }
    const std::uint32_t top = bits > 8 ? (1u << bits) - 1 : 0xFFFF;
    for (std::uint32_t y = 0; y < pic.height; ++y) {
        const std::uint8_t* row = pic.Row(y);
        for (std::uint64_t i = 0; i<(rowBits + 7) / 8; i += bits> 8 ? 2 : 1) {
            const std::uint32_t value =
                bits > 8 ? *reinterpret_cast<const std::uint16_t*>(row + i) : row[i];
            if (value > top) {
                std::abort();
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The image decoders' complaints about broken files go to Qt's message handler: not printed.
    static const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    (void)previous;
    const std::filesystem::path path = WriteFuzzFile("picture", "input.img", data, size);
    SZtPicBuf pic;
    if (ZT_LoadPictureFromFile(path.wstring().c_str(), &pic) == ZT_PIC_OK) {
        CheckPicture(pic);
    } else if (!pic.IsEmpty()) {
        std::abort();  // a file that does not load leaves the picture as it was: empty
    }
    // Refused files are logged; the capture would otherwise grow without bound.
    zthost::ClearCapturedLog();
    return 0;
}
