// The two images a run sends, checked before anything goes out: read through once for their
// size, CRC-32 and SHA-256, and compared with system\SHA256SUMS when the installation has one.
// Engine-free, so a command that flashes several ports checks the images once for all of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flash/file_fault.h"

inline constexpr char kLoaderImage[] = "system\\Floader.bin";
inline constexpr char kKernelImage[] = "system\\Ethernet.bin";
// The published sums, in sha256sum's format; a kit without it is flashed unchecked.
inline constexpr char kImageSums[] = "system\\SHA256SUMS";

struct ImageSum {
    std::string path;
    uint64_t size = 0;
    uint32_t crc32 = 0;
    std::string sha256;  // 64 lower-case hexadecimal digits
};

// Why CheckImages refused: the file (an image, or SHA256SUMS itself) and the fault; for
// SumMismatch the sum SHA256SUMS publishes and the image's own, for NotInSums the image's own.
struct ImageFault {
    std::string path;
    FileFault fault = FileFault::None;
    std::string expected;
    std::string actual;
};

// One line of a SHA256SUMS file: the name as written there, the sum in lower case.
struct PublishedSum {
    std::string name;
    std::string sha256;
};

// The lines of sha256sum's output: 64 hexadecimal digits in either case, two spaces or " *",
// the name (sha256sum's backslash escaping undone); CR LF or LF. Lines that do not parse are
// skipped, as `sha256sum -c` skips them.
std::vector<PublishedSum> ParseSha256Sums(const std::string& text);

// Whether a name from SHA256SUMS names `image` ("system\Floader.bin"): without a "system/" or
// "system\" in front, ignoring case as Windows does.
bool SumsNameMatches(const std::string& listed, const std::string& image);

// Opens and reads `path` through once for its size, CRC-32 and SHA-256; false with `fault`
// set when it cannot be opened, read whole, or hashed.
bool SumFile(const std::string& path, ImageSum* sum, FileFault* fault);

// The loader's and the kernel's sums, in that order, into `sums` (as many as were taken), then
// the check against SHA256SUMS if it exists (`listChecked`, when asked: whether it did); false
// with `fault` filled otherwise. Paths are relative to the installation's folder, the current
// one.
bool CheckImages(std::vector<ImageSum>* sums, ImageFault* fault, bool* listChecked = nullptr);
