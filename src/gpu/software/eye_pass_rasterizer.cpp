#include "gpu/software/eye_pass_rasterizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "gpu/dxgi_format.h"
#include "gpu/software/gamma_encoder.h"
#include "gpu/software/streaming_copy.h"
#include "gpu/software/texel_format.h"

namespace quillo::gpu::software {

namespace {

// The fewest rows a chunk handed to a thread has (the pool hands out larger chunks while much
// is left): small enough that the threads finish a pass together, large enough that taking a
// chunk costs nothing next to drawing it. Filtered 8-bit passes decode one source row more at
// each chunk start (a thread keeps the rows it decoded); with chunks of 8 rows throughout, a tenth
// of the decoding was repeated.
constexpr size_t kRowsPerChunk = 8;

// First pixel whose centre is at or after `edge`.
int FirstPixelFrom(float edge) {
    return static_cast<int>(std::ceil(edge - 0.5f));
}

float Lerp(float a, float b, float t) {
    return a + (b - a) * t;
}

uint16_t ReadU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// Output byte of every half-float bit pattern, for pixels drawn without blending.
struct HalfToByteTable {
    uint8_t bytes[65536];
    HalfToByteTable() {
        const GammaToUnorm8& encode = GammaToUnorm8::Instance();
        for (uint32_t bits = 0; bits < 65536; ++bits) {
            bytes[bits] = encode(HalfToFloat(static_cast<uint16_t>(bits)));
        }
    }
};

const uint8_t* HalfToByte() {
    static const HalfToByteTable table;
    return table.bytes;
}

// Row buffers start on a cache line, so that the vector loops' whole-vector loads and stores of
// them never straddle two lines.
constexpr size_t kFloatsPerCacheLine = 16;

float* CacheLineStart(std::vector<float>& buffer) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(buffer.data());
    return buffer.data() + ((64 - (address & 63)) & 63) / sizeof(float);
}

// Whether any of the red, green and blue halves of a little-endian R16G16B16A16 texel is
// infinite or NaN (exponent all ones): adding 1 to a 5-bit exponent field that is all ones
// carries into the sign bit position, which was cleared.
bool HasNonFiniteColour(const uint8_t* texel) {
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "texels are read as host words");
    uint64_t bits;
    std::memcpy(&bits, texel, sizeof bits);
    const uint64_t exponents = bits & 0x00007C007C007C00ull;
    return ((exponents + 0x0000040004000400ull) & 0x0000800080008000ull) != 0;
}

}  // namespace

EyePassRasterizer::EyePassRasterizer(WorkerPool& pool, InstructionSet set)
    : pool_(pool), kernels_(KernelsFor(set)), rowBuffers_(pool.size()), outputRows_(pool.size()) {
    const GammaToUnorm8& encode = GammaToUnorm8::Instance();
    for (int srgb = 0; srgb < 2; ++srgb) {
        const float* decode = EightBitDecodeTable(srgb != 0);
        for (int value = 0; value < 256; ++value) {
            texelCentredBytes_[srgb][value] = encode(decode[value]);
        }
    }
}

void EyePassRasterizer::ComputeTaps(std::vector<Tap>& taps, int begin, int end, float viewportStart,
                                    float viewportSize, float boundsMin, float boundsMax,
                                    bool invert, uint32_t textureSize) {
    taps.resize(static_cast<size_t>(end - begin));  // grows only for a larger viewport
    const float span = boundsMax - boundsMin;
    for (int pixel = begin; pixel < end; ++pixel) {
        const float along = (static_cast<float>(pixel) + 0.5f - viewportStart) / viewportSize;
        float coordinate = span * along + boundsMin;
        if (invert) coordinate = 1.0f - coordinate;
        // Texel space, centres on integers, then 8 fractional bits.
        const float scaled = (coordinate * static_cast<float>(textureSize) - 0.5f) * 256.0f;
        int64_t fixed = 0;
        if (std::fabs(scaled) < 1.0e15f) fixed = static_cast<int64_t>(std::floor(scaled + 0.5f));
        int64_t index = fixed >> 8;  // floor division
        const uint32_t fraction = static_cast<uint32_t>(fixed & 255);
        index %= static_cast<int64_t>(textureSize);
        if (index < 0) index += textureSize;
        Tap& tap = taps[static_cast<size_t>(pixel - begin)];
        tap.first = static_cast<uint32_t>(index);
        tap.second = tap.first + 1 == textureSize ? 0 : tap.first + 1;
        tap.weight = static_cast<float>(fraction) / 256.0f;
    }
}

bool EyePassRasterizer::AllWeightsZero(const std::vector<Tap>& taps) {
    for (const Tap& tap : taps) {
        if (tap.weight != 0.0f) return false;
    }
    return true;
}

bool EyePassRasterizer::PixelRect(const Viewport& viewport, const TextureDesc& desc, int& x0,
                                  int& x1, int& y0, int& y1) {
    if (!(viewport.width > 0.0f) || !(viewport.height > 0.0f)) return false;
    x0 = std::max(FirstPixelFrom(viewport.topLeftX), 0);
    x1 = std::min(FirstPixelFrom(viewport.topLeftX + viewport.width), static_cast<int>(desc.width));
    y0 = std::max(FirstPixelFrom(viewport.topLeftY), 0);
    y1 = std::min(FirstPixelFrom(viewport.topLeftY + viewport.height),
                  static_cast<int>(desc.height));
    return x0 < x1 && y0 < y1;
}

void EyePassRasterizer::Draw(const SoftwareTexture& target, uint32_t targetFormat,
                             const Viewport& viewport, const SoftwareTexture* source,
                             uint32_t sourceFormat, const TextureBounds& bounds, int32_t invertY) {
    int x0, x1, y0, y1;
    if (!PixelRect(viewport, target.Describe(), x0, x1, y0, y1)) return;

    if (source == nullptr) {
        static constexpr float kOpaqueBlack[4] = {0.0f, 0.0f, 0.0f, 1.0f};
        uint8_t texel[16];
        EncodeTexel(targetFormat, kOpaqueBlack, texel);
        const uint32_t texelSize = TexelSize(targetFormat);
        auto fill = [&](size_t begin, size_t end, unsigned) {
            FillRect(target, texelSize, texel, x0, x1, y0 + static_cast<int>(begin),
                     y0 + static_cast<int>(end));
        };
        pool_.ForEach(static_cast<size_t>(y1 - y0), kRowsPerChunk * 4, fill);
        return;
    }
    const TextureDesc sourceDesc = source->Describe();
    ComputeTaps(columns_, x0, x1, viewport.topLeftX, viewport.width, bounds.uMin, bounds.uMax,
                false, sourceDesc.width);
    ComputeTaps(rows_, y0, y1, viewport.topLeftY, viewport.height, bounds.vMin, bounds.vMax,
                invertY > 0, sourceDesc.height);

    pass_ = Pass{&target,
                 source,
                 targetFormat,
                 sourceFormat,
                 TexelSize(sourceFormat),
                 TexelSize(targetFormat),
                 x0,
                 x1,
                 y0,
                 y1,
                 Path::Generic};
    const bool unormTarget = IsEightBitFormat(targetFormat) && !IsSrgbFormat(targetFormat);
    const bool texelCentred = unormTarget && AllWeightsZero(columns_) && AllWeightsZero(rows_);
    if (texelCentred && IsEightBitFormat(sourceFormat)) {
        pass_.path = Path::TexelCentredEightBit;
        PrepareTexelCentredWords();
    } else if (texelCentred && sourceFormat == dxgi::kR16G16B16A16Float) {
        HalfToByte();  // built here, once, rather than by racing threads
        pass_.path = Path::TexelCentredHalf;
    } else if (unormTarget && IsEightBitFormat(sourceFormat) &&
               GammaToUnorm8::Instance().singleStep()) {
        pass_.path = Path::EightBit;
        PrepareEightBit();
    }
    for (std::vector<uint8_t>& row : outputRows_) {
        row.resize(static_cast<size_t>(x1 - x0) * pass_.targetTexel);  // grows only
    }
    auto rows = [this](size_t begin, size_t end, unsigned worker) { DrawRows(begin, end, worker); };
    pool_.ForEach(static_cast<size_t>(y1 - y0), kRowsPerChunk, rows);
}

void EyePassRasterizer::DrawRows(size_t yBegin, size_t yEnd, unsigned worker) {
    switch (pass_.path) {
        case Path::EightBit:
            DrawEightBitRows(yBegin, yEnd, worker);
            return;
        case Path::TexelCentredEightBit:
            DrawTexelCentredEightBitRows(yBegin, yEnd);
            return;
        case Path::TexelCentredHalf:
            DrawTexelCentredHalfRows(yBegin, yEnd, worker);
            return;
        case Path::Generic:
            DrawGenericRows(yBegin, yEnd);
            return;
    }
}

// Which source columns the taps use, and where each tap's columns land in a decoded row.
void EyePassRasterizer::PrepareEightBit() {
    const uint32_t sourceWidth = pass_.source->Describe().width;
    const size_t width = static_cast<size_t>(pass_.x1 - pass_.x0);
    slotOfColumn_.assign(sourceWidth, -1);
    usedColumns_.clear();
    auto offsetOf = [&](uint32_t column) {
        int32_t& slot = slotOfColumn_[column];
        if (slot < 0) {
            slot = static_cast<int32_t>(usedColumns_.size());
            usedColumns_.push_back(column);  // capacity kept from earlier draws
        }
        return static_cast<uint32_t>(slot) * 4;
    };
    // Vector code encodes whole groups of pixels; the ones past the end repeat the last pixel
    // and are thrown away.
    constexpr size_t kGroup = EightBitFilter::kTapPadding;
    const size_t padded = (width + kGroup - 1) / kGroup * kGroup + kGroup;
    filterTaps_.resize(padded);  // these grow only
    for (size_t i = 0; i < padded; ++i) {
        const Tap& column = columns_[i < width ? i : width - 1];
        filterTaps_[i] = {offsetOf(column.first), offsetOf(column.second), column.weight};
    }
    groupBase_.resize(padded / kGroup);
    tapLeft_.resize(padded);
    tapRight_.resize(padded);
    tapWeight_.resize(padded);
    GroupTaps(filterTaps_.data(), padded, groupBase_.data(), tapLeft_.data(), tapRight_.data(),
              tapWeight_.data());

    const size_t floats = kernels_.rowFloats(usedColumns_.size());
    for (RowBuffers& buffers : rowBuffers_) {
        for (int k = 0; k < 2; ++k) {
            buffers.decoded[k].resize(floats + kFloatsPerCacheLine);  // grows only
            buffers.sourceRow[k] = kNoRow;  // the source may have changed since
        }
        buffers.blended.resize(floats + kFloatsPerCacheLine);
    }

    filter_.columns = usedColumns_.data();
    filter_.columnCount = usedColumns_.size();
    filter_.contiguous = true;
    for (size_t k = 1; k < usedColumns_.size(); ++k) {
        if (usedColumns_[k] != usedColumns_[0] + k) filter_.contiguous = false;
    }
    filter_.taps = filterTaps_.data();
    filter_.groupBase = groupBase_.data();
    filter_.tapLeft = tapLeft_.data();
    filter_.tapRight = tapRight_.data();
    filter_.tapWeight = tapWeight_.data();
    filter_.width = width;
    filter_.decode = EightBitDecodeTable(IsSrgbFormat(pass_.sourceFormat));
    DecodePlanes(filter_.decode, decodePlanes_);
    filter_.decodePlanes = decodePlanes_;
    // Lanes follow the target's byte order; the source's may differ.
    const uint8_t sourceRed = IsRgbaOrder(pass_.sourceFormat) ? 0 : 2;
    const uint8_t sourceBlue = static_cast<uint8_t>(2 - sourceRed);
    const bool rgbaTarget = IsRgbaOrder(pass_.targetFormat);
    filter_.order[0] = rgbaTarget ? sourceRed : sourceBlue;
    filter_.order[1] = 1;
    filter_.order[2] = rgbaTarget ? sourceBlue : sourceRed;
    filter_.order[3] = 3;
    filter_.gamma = GammaToUnorm8::Instance().words();
}

// The common case: 8-bit source (UNORM or sRGB, RGBA or BGRA order) into an 8-bit UNORM target.
// Each target row blends its two source rows once per used source column, then every pixel
// blends two of those. Consecutive rows mostly share a source row, which is decoded once: a
// thread keeps the last two rows it decoded.
void EyePassRasterizer::DrawEightBitRows(size_t yBegin, size_t yEnd, unsigned worker) {
    RowBuffers& buffers = rowBuffers_[worker];
    const size_t floats = kernels_.rowFloats(usedColumns_.size());
    auto cached = [&](uint32_t y) {
        return buffers.sourceRow[0] == y ? 0 : buffers.sourceRow[1] == y ? 1 : -1;
    };
    auto decode = [&](int k, uint32_t y, const float* upper, float w) {
        kernels_.decode(filter_, pass_.source->Row(y), CacheLineStart(buffers.decoded[k]), upper, w,
                        CacheLineStart(buffers.blended));
        buffers.sourceRow[k] = y;
    };
    for (size_t r = yBegin; r < yEnd; ++r) {
        const Tap& row = rows_[r];
        int upper = cached(row.first);
        const int lower = row.weight != 0.0f ? cached(row.second) : -1;
        if (upper < 0) {
            upper = lower == 0 ? 1 : 0;
            decode(upper, row.first, nullptr, 0.0f);
        }
        const float* upperRow = CacheLineStart(buffers.decoded[upper]);
        const float* blended = upperRow;  // a + (c - a) * 0 is a for every finite a and c
        if (row.weight != 0.0f) {
            if (lower < 0) {
                decode(1 - upper, row.second, upperRow, row.weight);
            } else {
                kernels_.blend(upperRow, CacheLineStart(buffers.decoded[lower]), row.weight,
                               CacheLineStart(buffers.blended), floats);
            }
            blended = CacheLineStart(buffers.blended);
        }
        uint8_t* out = pass_.target->Row(static_cast<uint32_t>(pass_.y0 + static_cast<int>(r))) +
                       static_cast<size_t>(pass_.x0) * 4;
        kernels_.encode(filter_, blended, out);
    }
}

// Source byte k of a texel (k = 0, 1, 2) -> its output byte, already shifted to where that
// channel sits in a target texel read as a little-endian word.
void EyePassRasterizer::PrepareTexelCentredWords() {
    columnsContiguous_ = true;
    for (size_t i = 1; i < columns_.size(); ++i) {
        if (columns_[i].first != columns_[0].first + i) columnsContiguous_ = false;
    }
    const uint8_t* bytes = texelCentredBytes_[IsSrgbFormat(pass_.sourceFormat) ? 1 : 0];
    const bool rgbaSource = IsRgbaOrder(pass_.sourceFormat);
    const bool rgbaTarget = IsRgbaOrder(pass_.targetFormat);
    texelCentredTable_ = bytes;
    texelCentredSwap_ = rgbaSource != rgbaTarget;
    for (int k = 0; k < 3; ++k) {
        const int channel = rgbaSource ? k : 2 - k;  // 0 red, 1 green, 2 blue
        const int targetByte = rgbaTarget ? channel : 2 - channel;
        for (int value = 0; value < 256; ++value) {
            texelCentredWords_[k][value] = static_cast<uint32_t>(bytes[value]) << (8 * targetByte);
        }
    }
}

// Every pixel shows its upper-left texel unblended: one table look-up per channel.
void EyePassRasterizer::DrawTexelCentredEightBitRows(size_t yBegin, size_t yEnd) {
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "texels are read as host words");
    const uint32_t* first = texelCentredWords_[0];
    const uint32_t* second = texelCentredWords_[1];
    const uint32_t* third = texelCentredWords_[2];
    const Tap* columns = columns_.data();
    const int width = pass_.x1 - pass_.x0;
    auto convert = [&](const uint8_t* texel, uint8_t* out) {
        uint32_t bits;
        std::memcpy(&bits, texel, 4);
        StreamWord(out, first[bits & 255] | second[(bits >> 8) & 255] | third[(bits >> 16) & 255] |
                            0xFF000000u);
    };
    for (size_t r = yBegin; r < yEnd; ++r) {
        const uint8_t* in = pass_.source->Row(rows_[r].first);
        uint8_t* out = pass_.target->Row(static_cast<uint32_t>(pass_.y0 + static_cast<int>(r))) +
                       static_cast<size_t>(pass_.x0) * 4;
        if (columnsContiguous_ && kernels_.texelCentredRow != nullptr) {
            kernels_.texelCentredRow(in + static_cast<size_t>(columns[0].first) * 4,
                                     static_cast<size_t>(width), texelCentredTable_,
                                     texelCentredSwap_, out);
        } else if (columnsContiguous_) {
            in += static_cast<size_t>(columns[0].first) * 4;
            for (int i = 0; i < width; ++i) convert(in + 4 * i, out + 4 * i);
        } else {
            for (int i = 0; i < width; ++i) {
                convert(in + static_cast<size_t>(columns[i].first) * 4, out + 4 * i);
            }
        }
    }
    EndStreamingStores();
}

void EyePassRasterizer::DrawTexelCentredHalfRows(size_t yBegin, size_t yEnd, unsigned worker) {
    const uint8_t* bytes = HalfToByte();
    const int tr = IsRgbaOrder(pass_.targetFormat) ? 0 : 2, tb = 2 - tr;
    const Tap* columns = columns_.data();
    const int width = pass_.x1 - pass_.x0;
    for (size_t r = yBegin; r < yEnd; ++r) {
        const Tap& row = rows_[r];
        const uint8_t* upper = pass_.source->Row(row.first);
        const uint8_t* lower = pass_.source->Row(row.second);
        uint8_t* out = outputRows_[worker].data();
        for (int i = 0; i < width; ++i, out += 4) {
            const Tap& column = columns[i];
            const uint8_t* a = upper + static_cast<size_t>(column.first) * 8;
            if (HasNonFiniteColour(a) || HasNonFiniteColour(upper + column.second * 8) ||
                HasNonFiniteColour(lower + column.first * 8) ||
                HasNonFiniteColour(lower + column.second * 8)) {
                DrawGenericPixel(upper, lower, row, column, out);
                continue;
            }
            out[tr] = bytes[ReadU16(a)];
            out[1] = bytes[ReadU16(a + 2)];
            out[tb] = bytes[ReadU16(a + 4)];
            out[3] = 255;
        }
        WriteRow(r, worker);
    }
}

void EyePassRasterizer::WriteRow(size_t r, unsigned worker) {
    uint8_t* row = pass_.target->Row(static_cast<uint32_t>(pass_.y0 + static_cast<int>(r)));
    const size_t texel = pass_.targetTexel;
    StreamingCopy(row + static_cast<size_t>(pass_.x0) * texel, outputRows_[worker].data(),
                  static_cast<size_t>(pass_.x1 - pass_.x0) * texel);
}

// Any other pairing (float or 16-bit sources, float or sRGB targets): texel by texel.
void EyePassRasterizer::DrawGenericRows(size_t yBegin, size_t yEnd) {
    for (size_t r = yBegin; r < yEnd; ++r) {
        const Tap& row = rows_[r];
        const uint8_t* upper = pass_.source->Row(row.first);
        const uint8_t* lower = pass_.source->Row(row.second);
        uint8_t* out = pass_.target->Row(static_cast<uint32_t>(pass_.y0 + static_cast<int>(r))) +
                       static_cast<size_t>(pass_.x0) * pass_.targetTexel;
        for (int x = pass_.x0; x < pass_.x1; ++x, out += pass_.targetTexel) {
            DrawGenericPixel(upper, lower, row, columns_[static_cast<size_t>(x - pass_.x0)], out);
        }
    }
}

void EyePassRasterizer::DrawGenericPixel(const uint8_t* upper, const uint8_t* lower, const Tap& row,
                                         const Tap& column, uint8_t* out) const {
    const uint32_t sourceFormat = pass_.sourceFormat, targetFormat = pass_.targetFormat;
    const uint32_t sourceTexel = pass_.sourceTexel;
    float a[4], b[4], c[4], d[4];
    DecodeTexel(sourceFormat, upper + column.first * sourceTexel, a);
    DecodeTexel(sourceFormat, upper + column.second * sourceTexel, b);
    DecodeTexel(sourceFormat, lower + column.first * sourceTexel, c);
    DecodeTexel(sourceFormat, lower + column.second * sourceTexel, d);
    float colour[4];
    for (int k = 0; k < 3; ++k) {
        const float left = Lerp(a[k], c[k], row.weight);
        const float right = Lerp(b[k], d[k], row.weight);
        colour[k] = Lerp(left, right, column.weight);
    }
    // 8-bit UNORM targets take the exact table instead of exp2/log2 per channel.
    if (IsEightBitFormat(targetFormat) && !IsSrgbFormat(targetFormat)) {
        const GammaToUnorm8& encode = GammaToUnorm8::Instance();
        const int tr = IsRgbaOrder(targetFormat) ? 0 : 2, tb = 2 - tr;
        out[tr] = encode(colour[0]);
        out[1] = encode(colour[1]);
        out[tb] = encode(colour[2]);
        out[3] = 255;
        return;
    }
    for (int k = 0; k < 3; ++k) colour[k] = GammaEncode(colour[k]);
    colour[3] = 1.0f;
    EncodeTexel(targetFormat, colour, out);
}

}  // namespace quillo::gpu::software
