// A first look at a large baseline JPEG at 1/8 or 2/8 of its size, with its
// entropy decoding split over two threads. Reading the Huffman codes is most
// of the time such a look takes, and libjpeg reads them one after another.
//
// The first thread decodes from the start of the scan. The second starts in
// the middle of it, in the middle of some code, and decodes on as if it were
// at the start of an MCU: Huffman codes resynchronise, so after a few blocks
// its block boundaries are the true ones. When the first thread reaches a
// block where the second began one, at the same bit and the same place in
// the MCU, everything the second decoded from there on is what the first
// would have decoded; it stops, and the DC differences are summed in order.
// Should they never meet, the first thread decodes the rest itself, so the
// result never depends on where the second began.
//
// Only the lowest frequencies are kept: a block's DC gives its 1/8 pixel,
// and its four lowest coefficients close to the mean of each of its
// quarters (the odd frequencies past the first are left out).
#include <cstdio> // jpeglib.h needs FILE
#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "Decoders.h"
#include "Parallel.h"

namespace tavrin::imagefiles {

namespace {

// The scan's bits with the stuffed zero bytes left out; zeros past its end.
struct TBits {
    const std::uint8_t* Data;
    std::size_t Size;
    std::size_t Next = 0;       // the next byte to load
    std::uint64_t Buffer = 0;   // bits from the top
    int Count = 0;              // how many
    std::uint64_t Consumed = 0; // bits taken, counted in the scan's own bits
    std::uint64_t Real = 0;     // bits loaded from the scan itself
    bool Ended = false;         // a marker or the end of the data came

    void Fill()
    {
        if (Count >= 32)
            return; // enough for a code and its value
        // Eight bytes at once while none of them is 0xFF. Bits past the
        // whole bytes taken are the next byte's, which puts the same there.
        if (Next + 8 <= Size) {
            std::uint64_t word;
            std::memcpy(&word, Data + Next, 8);
            const std::uint64_t inverse = ~word;
            if (((inverse - 0x0101010101010101ull) & ~inverse & 0x8080808080808080ull) == 0) {
                const int take = (64 - Count) / 8;
                Buffer |= __builtin_bswap64(word) >> Count;
                Next += std::size_t(take);
                Count += 8 * take;
                Real += std::uint64_t(8 * take);
                return;
            }
        }
        while (Count <= 56) {
            std::uint64_t byte = 0;
            if (!Ended && Next < Size && Data[Next] != 0xFF) {
                byte = Data[Next++];
                Real += 8;
            } else if (!Ended && Next + 1 < Size && Data[Next + 1] == 0) {
                byte = 0xFF;
                Next += 2;
                Real += 8;
            } else {
                Ended = true;
            }
            Buffer |= byte << (56 - Count);
            Count += 8;
        }
    }
    std::uint32_t Peek(int Bits) const { return std::uint32_t(Buffer >> (64 - Bits)); }
    void Skip(int Bits)
    {
        Buffer <<= Bits;
        Count -= Bits;
        Consumed += std::uint64_t(Bits);
    }
    // Drops the loaded bits: what follows starts at the next byte.
    void Realign()
    {
        Consumed += std::uint64_t(Count);
        Buffer = 0;
        Count = 0;
    }
    bool Overrun() const { return Consumed > Real; }
};

constexpr int FastBits = 10;

std::int32_t Extend(std::uint32_t Value, int Size)
{
    return Value < (1u << (Size - 1)) ? std::int32_t(Value) - (1 << Size) + 1 : std::int32_t(Value);
}

class THuffman {
public:
    // False for a table no code could be read by.
    bool Build(const JHUFF_TBL* Table)
    {
        if (!Table)
            return false;
        std::array<std::uint8_t, 257> sizes{};
        int n = 0;
        for (int length = 1; length <= 16; ++length)
            for (int i = 0; i < Table->bits[length]; ++i) {
                if (n >= 256)
                    return false;
                sizes[std::size_t(n++)] = std::uint8_t(length);
            }
        Symbols = n;
        std::copy(Table->huffval, Table->huffval + 256, Values.begin());
        std::array<std::uint32_t, 256> codes{};
        std::uint32_t code = 0;
        int at = 0;
        for (int length = 1; length <= 16; ++length) {
            const int first = at;
            for (; at < n && sizes[std::size_t(at)] == length; ++at)
                codes[std::size_t(at)] = code++;
            if (code >= (1u << length))
                return false; // no code may be all ones
            MaxCode[length] = at > first ? std::int32_t(codes[std::size_t(at - 1)]) : -1;
            Offset[length] = at > first ? first - std::int32_t(codes[std::size_t(first)]) : 0;
            code <<= 1;
        }
        Fast.fill(0);
        Whole.fill({});
        for (int i = 0; i < n && sizes[std::size_t(i)] <= FastBits; ++i) {
            const int length = sizes[std::size_t(i)], spare = FastBits - length;
            const int symbol = Values[std::size_t(i)], size = symbol & 15;
            for (std::uint32_t low = 0; low < (1u << spare); ++low) {
                const std::uint32_t bits = (codes[std::size_t(i)] << spare) | low;
                Fast[bits] = std::uint16_t(length << 8 | symbol);
                if (length + size <= FastBits)
                    Whole[bits] = {size ? Extend(low >> (spare - size), size) : 0,
                                   std::uint8_t(length + size), std::uint8_t(symbol)};
            }
        }
        return true;
    }

    // A code with the value bits after it, when both fit in the first
    // FastBits bits: how many bits they take (0 when they do not fit), the
    // symbol and the value.
    struct TWhole {
        std::int32_t Value = 0;
        std::uint8_t Length = 0;
        std::uint8_t Symbol = 0;
    };
    const TWhole& Peek(TBits& Bits) const
    {
        Bits.Fill();
        return Whole[Bits.Peek(FastBits)];
    }

    // The next symbol, or -1 for bits that are no code.
    int Decode(TBits& Bits) const
    {
        Bits.Fill();
        if (const std::uint16_t fast = Fast[Bits.Peek(FastBits)]) {
            Bits.Skip(fast >> 8);
            return fast & 0xFF;
        }
        for (int length = FastBits + 1; length <= 16; ++length) {
            const std::int32_t code = std::int32_t(Bits.Peek(length));
            if (code <= MaxCode[length]) {
                Bits.Skip(length);
                const std::int32_t index = code + Offset[length];
                return index >= 0 && index < Symbols ? Values[std::size_t(index)] : -1;
            }
        }
        return -1;
    }

private:
    std::array<std::uint16_t, 1 << FastBits> Fast{};
    std::array<TWhole, 1 << FastBits> Whole{};
    std::array<std::int32_t, 17> MaxCode{};
    std::array<std::int32_t, 17> Offset{};
    std::array<std::uint8_t, 256> Values{};
    int Symbols = 0;
};

std::int32_t Take(TBits& Bits, int Size)
{
    if (Size == 0)
        return 0;
    const std::uint32_t value = Bits.Peek(Size);
    Bits.Skip(Size);
    return Extend(value, Size);
}

// The coefficients a first look needs: the DC difference, then the lowest
// horizontal, vertical and diagonal ones (zigzag 1, 2 and 4).
using TLow = std::array<std::int16_t, 4>;

struct TBlockKind {
    int Component;    // index into the tables below
    int Across, Down; // the block's place in its MCU, in blocks
};

struct TLayout {
    std::vector<TBlockKind> Blocks; // one MCU's, in the order they come
    std::array<THuffman, 4> Dc, Ac;
    std::array<int, 4> DcTable{}, AcTable{};
    std::array<std::array<std::uint16_t, 4>, 4> Quant{}; // at natural 0, 1, 8, 9
    int Components = 0;
    int McusAcross = 0, McusDown = 0;
    int MaxH = 1, MaxV = 1;
    std::int64_t TotalBlocks = 0;
};

// False for bits that are not a block.
bool DecodeBlock(TBits& Bits, const TLayout& Layout, int Kind, TLow& Out)
{
    const int component = Layout.Blocks[std::size_t(Kind)].Component;
    const THuffman& dc = Layout.Dc[std::size_t(component)];
    const THuffman& ac = Layout.Ac[std::size_t(component)];
    Out = {};
    const int size = dc.Decode(Bits);
    if (size < 0 || size > 11)
        return false;
    Out[0] = std::int16_t(Take(Bits, size));
    for (int k = 1; k < 64;) {
        const THuffman::TWhole& whole = ac.Peek(Bits);
        int symbol = whole.Symbol;
        std::int32_t value = whole.Value;
        if (whole.Length)
            Bits.Skip(whole.Length);
        else if ((symbol = ac.Decode(Bits)) < 0)
            return false;
        else
            value = Take(Bits, symbol & 15);
        const int run = symbol >> 4, bits = symbol & 15;
        if (bits == 0) {
            if (run != 15)
                break; // end of block
            k += 16;
            continue;
        }
        k += run;
        if (k > 63)
            return false;
        if (k == 1 || k == 2 || k == 4)
            Out[std::size_t(k == 4 ? 3 : k)] = std::int16_t(value);
        ++k;
    }
    return !Bits.Overrun();
}

// What the second thread found from the middle on: where each block began
// (in the scan's bits), where in the MCU it took itself to be (with Fresh
// for the first block after bits that were no block, from where it started
// again at the next byte, as place 0), and what it held.
struct TSecondHalf {
    explicit TSecondHalf(std::size_t Room)
        : Room(Room), Start(std::make_unique_for_overwrite<std::uint64_t[]>(Room)),
          Kind(std::make_unique_for_overwrite<std::uint8_t[]>(Room)),
          Low(std::make_unique_for_overwrite<TLow[]>(Room))
    {}
    std::size_t Room;
    std::unique_ptr<std::uint64_t[]> Start;
    std::unique_ptr<std::uint8_t[]> Kind;
    std::unique_ptr<TLow[]> Low;
    static constexpr std::uint8_t Fresh = 0x80;
    std::atomic<std::size_t> Published{0};
    std::atomic<bool> Done{false};
    std::atomic<bool> Stop{false};
};

// The scan's own bits in its first Bytes: a stuffed zero byte is none.
std::uint64_t BitsBefore(const std::uint8_t* Scan, std::size_t Bytes)
{
    std::uint64_t stuffed = 0;
    for (const std::uint8_t* at = Scan; Bytes > 1 && at < Scan + Bytes - 1; ++at) {
        at = static_cast<const std::uint8_t*>(
            std::memchr(at, 0xFF, std::size_t(Scan + Bytes - 1 - at)));
        if (!at)
            break;
        stuffed += at[1] == 0;
    }
    return (std::uint64_t(Bytes) - stuffed) * 8;
}

// Decodes blocks from byte From on, whose first bit is the scan's Begin-th.
void DecodeFrom(const std::uint8_t* Scan, std::size_t Bytes, std::size_t From, std::uint64_t Begin,
                const TLayout& Layout, TSecondHalf& Half)
{
    TBits bits{Scan + From, Bytes - From};
    bits.Consumed = bits.Real = Begin;
    const std::size_t room = Half.Room;
    const int perMcu = int(Layout.Blocks.size());
    std::size_t n = 0;
    int kind = 0;
    bool fresh = false;
    while (n < room && !Half.Stop.load(std::memory_order_relaxed)) {
        Half.Start[n] = bits.Consumed;
        Half.Kind[n] = std::uint8_t(kind | (fresh ? TSecondHalf::Fresh : 0));
        if (!DecodeBlock(bits, Layout, kind, Half.Low[n])) {
            if (bits.Ended && bits.Overrun())
                break;
            bits.Realign();
            kind = 0;
            fresh = true;
            continue;
        }
        fresh = false;
        kind = (kind + 1) % perMcu;
        Half.Published.store(++n, std::memory_order_release);
    }
    Half.Done.store(true, std::memory_order_release);
}

std::optional<TLayout> Layout(const jpeg_decompress_struct& Info)
{
    if (Info.progressive_mode || Info.arith_code || Info.data_precision != 8 ||
        Info.restart_interval != 0 || Info.comps_in_scan != Info.num_components ||
        (Info.num_components != 1 && Info.num_components != 3) ||
        (Info.num_components == 3 && Info.jpeg_color_space != JCS_YCbCr) ||
        (Info.num_components == 1 && Info.jpeg_color_space != JCS_GRAYSCALE))
        return std::nullopt;
    TLayout layout;
    layout.Components = Info.num_components;
    for (int c = 0; c < Info.num_components; ++c) {
        // In the frame's order: luma first.
        if (Info.cur_comp_info[c] != &Info.comp_info[c])
            return std::nullopt;
        const jpeg_component_info& component = *Info.cur_comp_info[c];
        if (component.h_samp_factor < 1 || component.h_samp_factor > 2 ||
            component.v_samp_factor < 1 || component.v_samp_factor > 2 ||
            (c > 0 && (component.h_samp_factor != 1 || component.v_samp_factor != 1)))
            return std::nullopt;
        // The header reader leaves the table numbers to the decoder to check.
        if (component.quant_tbl_no < 0 || component.quant_tbl_no >= NUM_QUANT_TBLS ||
            component.dc_tbl_no < 0 || component.dc_tbl_no >= NUM_HUFF_TBLS ||
            component.ac_tbl_no < 0 || component.ac_tbl_no >= NUM_HUFF_TBLS)
            return std::nullopt;
        const JQUANT_TBL* quant = Info.quant_tbl_ptrs[component.quant_tbl_no];
        if (!quant ||
            !layout.Dc[std::size_t(c)].Build(Info.dc_huff_tbl_ptrs[component.dc_tbl_no]) ||
            !layout.Ac[std::size_t(c)].Build(Info.ac_huff_tbl_ptrs[component.ac_tbl_no]))
            return std::nullopt;
        layout.Quant[std::size_t(c)] = {quant->quantval[0], quant->quantval[1], quant->quantval[8],
                                        quant->quantval[9]};
    }
    // One component alone is not interleaved: each of its blocks is an MCU.
    layout.MaxH = Info.num_components == 1 ? 1 : Info.cur_comp_info[0]->h_samp_factor;
    layout.MaxV = Info.num_components == 1 ? 1 : Info.cur_comp_info[0]->v_samp_factor;
    for (int c = 0; c < Info.num_components; ++c) {
        const int h = c == 0 ? layout.MaxH : 1, v = c == 0 ? layout.MaxV : 1;
        for (int y = 0; y < v; ++y)
            for (int x = 0; x < h; ++x)
                layout.Blocks.push_back({c, x, y});
    }
    const auto up = [](std::int64_t Value, std::int64_t Step) { return (Value + Step - 1) / Step; };
    layout.McusAcross = int(up(Info.image_width, 8 * layout.MaxH));
    layout.McusDown = int(up(Info.image_height, 8 * layout.MaxV));
    layout.TotalBlocks =
        std::int64_t(layout.McusAcross) * layout.McusDown * std::int64_t(layout.Blocks.size());
    return layout;
}

std::uint8_t Clamp(float Value)
{
    return std::uint8_t(std::clamp(int(Value + 0.5f), 0, 255));
}

// The picture at Scale/8 from every block's low coefficients, DC summed.
TWin Reconstruct(const TLayout& Layout, TLow* Blocks, std::size_t Count, int Scale,
                 std::int32_t Width, std::int32_t Height)
{
    const std::size_t perMcu = Layout.Blocks.size();
    // A hostile file's DC differences can sum past any bound: they wrap, as
    // in libjpeg, which keeps 16 bits of the sum.
    std::array<std::uint32_t, 4> dc{};
    for (std::size_t i = 0; i < Count; i += perMcu)
        for (std::size_t b = 0; b < perMcu; ++b) {
            std::uint32_t& sum = dc[std::size_t(Layout.Blocks[b].Component)];
            sum += std::uint32_t(std::int32_t(Blocks[i + b][0]));
            Blocks[i + b][0] = std::int16_t(std::uint16_t(sum));
        }
    // Planes at Scale pixels a block: luma at full resolution, chroma at its own.
    const int lumaWidth = Layout.McusAcross * Layout.MaxH * Scale;
    const int chromaWidth = Layout.McusAcross * Scale;
    const std::size_t lumaSize =
        std::size_t(lumaWidth) * std::size_t(Layout.McusDown * Layout.MaxV * Scale);
    const std::size_t chromaSize = std::size_t(chromaWidth) * std::size_t(Layout.McusDown * Scale);
    const auto luma = std::make_unique_for_overwrite<std::uint8_t[]>(lumaSize);
    const auto chroma =
        std::make_unique_for_overwrite<std::uint8_t[]>(Layout.Components == 3 ? 2 * chromaSize : 0);
    // Close to the mean of a quarter of the block: the DC's share, and the
    // lowest frequencies' averages over half a block, cos((2x+1)pi/16) for
    // x < 4.
    const float half = float((std::cos(M_PI / 16) + std::cos(3 * M_PI / 16) +
                              std::cos(5 * M_PI / 16) + std::cos(7 * M_PI / 16)) /
                             4);
    const float edge = half / (4 * std::sqrt(2.0f)), corner = half * half / 4;
    // Each band of MCU rows, then of picture rows, is written by one thread.
    const std::int64_t mcuRowPixels = std::int64_t(lumaWidth) * Layout.MaxV * Scale;
    ForRowBands(0, Layout.McusDown, mcuRowPixels, [&](std::int32_t Top, std::int32_t Bottom) {
        const TLow* block = Blocks + std::size_t(Top) * std::size_t(Layout.McusAcross) * perMcu;
        for (int my = Top; my < Bottom; ++my)
            for (int mx = 0; mx < Layout.McusAcross; ++mx)
                for (const TBlockKind& kind : Layout.Blocks) {
                    const TLow& low = *block++;
                    const auto& q = Layout.Quant[std::size_t(kind.Component)];
                    const bool isLuma = kind.Component == 0;
                    const int stride = isLuma ? lumaWidth : chromaWidth;
                    const int x = ((isLuma ? mx * Layout.MaxH : mx) + kind.Across) * Scale;
                    const int y = ((isLuma ? my * Layout.MaxV : my) + kind.Down) * Scale;
                    std::uint8_t* at =
                        (isLuma ? luma.get()
                                : chroma.get() + std::size_t(kind.Component - 1) * chromaSize) +
                        std::size_t(y) * std::size_t(stride) + std::size_t(x);
                    const float mean = 128 + float(low[0] * q[0]) / 8;
                    if (Scale == 1) {
                        at[0] = Clamp(mean);
                        continue;
                    }
                    const float across = edge * float(low[1] * q[1]),
                                down = edge * float(low[2] * q[2]);
                    const float both = corner * float(low[3] * q[3]);
                    at[0] = Clamp(mean + across + down + both);
                    at[1] = Clamp(mean - across + down - both);
                    at[stride] = Clamp(mean + across - down - both);
                    at[stride + 1] = Clamp(mean - across - down + both);
                }
    });
    TWin picture(Width, Height);
    const int shiftX = Layout.MaxH - 1, shiftY = Layout.MaxV - 1;
    ForRowBands(0, Height, Width, [&](std::int32_t Top, std::int32_t Bottom) {
        for (std::int32_t y = Top; y < Bottom; ++y) {
            std::uint8_t* out = picture.Row(y);
            const std::uint8_t* l = luma.get() + std::size_t(y) * std::size_t(lumaWidth);
            if (Layout.Components == 1) {
                for (std::int32_t x = 0; x < Width; ++x, out += 3)
                    out[0] = out[1] = out[2] = l[x];
                continue;
            }
            const std::uint8_t* cbRow =
                chroma.get() + std::size_t(y >> shiftY) * std::size_t(chromaWidth);
            const std::uint8_t* crRow = cbRow + chromaSize;
            for (std::int32_t x = 0; x < Width; ++x, out += 3) {
                const float luminance = l[x], cb = float(cbRow[x >> shiftX]) - 128,
                            cr = float(crRow[x >> shiftX]) - 128;
                out[0] = Clamp(luminance + 1.772f * cb);
                out[1] = Clamp(luminance - 0.344136f * cb - 0.714136f * cr);
                out[2] = Clamp(luminance + 1.402f * cr);
            }
        }
    });
    return picture;
}

} // namespace

std::optional<TWin> DecodeFirstLook(const jpeg_decompress_struct& Info, const std::uint8_t* Scan,
                                    std::size_t Bytes, int Scale, std::size_t SplitAt, bool* Split)
{
    if (Split)
        *Split = false;
    const std::optional<TLayout> layout = Layout(Info);
    if (!layout || (Scale != 1 && Scale != 2))
        return std::nullopt;
    const std::size_t total = std::size_t(layout->TotalBlocks);
    const std::size_t perMcu = layout->Blocks.size();
    const auto blocks = std::make_unique_for_overwrite<TLow[]>(total);
    // The second thread's half: the picture's blocks at most, and room for
    // those it reads before it finds the true ones.
    std::size_t from = std::min(SplitAt ? SplitAt : Bytes / 2, Bytes);
    if (from > 0 && from < Bytes && Scan[from - 1] == 0xFF)
        ++from;
    const std::uint64_t begin = BitsBefore(Scan, from);
    TSecondHalf half(total + total / 8 + 1024);
    std::thread second;
    try {
        second = std::thread([&] { DecodeFrom(Scan, Bytes, from, begin, *layout, half); });
    } catch (const std::system_error&) {
        return std::nullopt; // no second thread: libjpeg's decode takes the file
    }
    TBits bits{Scan, Bytes};
    std::size_t seen = 0;           // the second thread's blocks that begin before this one
    std::optional<std::size_t> met; // the second thread's block where this one was
    std::size_t i = 0;
    bool failed = false;
    for (; i < total; ++i) {
        // Past where the second thread began, it waits until that thread has
        // been here too; it is far ahead but on the smallest pictures.
        std::size_t published = half.Published.load(std::memory_order_acquire);
        for (bool done = false;;) {
            while (seen < published && half.Start[seen] < bits.Consumed)
                ++seen;
            if (seen < published || bits.Consumed < begin || done)
                break;
            // Once it is done, one more look at all it published.
            done = half.Done.load(std::memory_order_acquire);
            published = half.Published.load(std::memory_order_acquire);
            if (!done)
                std::this_thread::yield();
        }
        if (seen < published && half.Start[seen] == bits.Consumed &&
            (half.Kind[seen] & ~TSecondHalf::Fresh) == i % perMcu) {
            met = seen;
            break;
        }
        if (!DecodeBlock(bits, *layout, int(i % perMcu), blocks[i])) {
            failed = true;
            break;
        }
    }
    if (!met)
        half.Stop = true;
    second.join();
    // The second thread's blocks from the meeting on, up to a fresh start
    // (bits that were no block) or its end. Should they stop short (it ran
    // out of room), this thread decodes the rest itself.
    if (met) {
        const std::size_t needed = total - i;
        const std::size_t published = half.Published.load();
        std::size_t end = *met + 1;
        while (end < published && end - *met < needed && !(half.Kind[end] & TSecondHalf::Fresh))
            ++end;
        if (end - *met == needed) {
            std::copy_n(half.Low.get() + *met, needed, blocks.get() + i);
            i = total;
            if (Split)
                *Split = true;
        }
    }
    for (; !failed && i < total; ++i)
        failed = !DecodeBlock(bits, *layout, int(i % perMcu), blocks[i]);
    if (failed)
        return std::nullopt;
    // As libjpeg sizes a scaled picture: rounded up.
    const auto size = [&](JDIMENSION Side) {
        return std::int32_t((std::int64_t(Side) * Scale + 7) / 8);
    };
    return Reconstruct(*layout, blocks.get(), total, Scale, size(Info.image_width),
                       size(Info.image_height));
}

} // namespace tavrin::imagefiles
