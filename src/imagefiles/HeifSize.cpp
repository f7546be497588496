// The sizes a HEIF file gives inside its items -- a grid's or overlay's
// canvas, the coded HEVC or AV1 pictures -- read from the file's own bytes:
// libheif and its decoders allocate them before they compare them with the
// size the file announces, so the front end checks them first.
#include <algorithm>
#include <functional>
#include <set>
#include <string_view>

#include "Decoders.h"

namespace tavrin::imagefiles {

namespace {

using TBytes = std::basic_string_view<std::uint8_t>;

std::uint64_t BigEndian(TBytes Bytes, std::size_t At, int Count)
{
    std::uint64_t value = 0;
    for (int i = 0; i < Count; ++i)
        value = value << 8 | Bytes[At + std::size_t(i)];
    return value;
}

// Reads bits of a payload, skipping the emulation-prevention bytes
// (00 00 03) of an HEVC NAL unit; not Ok once it runs past the end.
class TBitReader {
public:
    TBitReader(TBytes Payload, bool Escaped) : Payload(Payload), Escaped(Escaped) {}

    bool Ok() const { return Good; }

    std::uint32_t Bits(int Count)
    {
        std::uint32_t value = 0;
        for (int i = 0; i < Count; ++i)
            value = value << 1 | Bit();
        return value;
    }

    // Exp-Golomb code ue(v); a value past 32 bits marks the reader bad.
    std::uint32_t Unsigned()
    {
        int zeros = 0;
        while (Good && Bit() == 0)
            if (++zeros > 31)
                Good = false;
        return Good ? ((std::uint32_t(1) << zeros) - 1 + Bits(zeros)) : 0;
    }

private:
    std::uint32_t Bit()
    {
        if (BitInByte == 0) {
            if (Escaped && Zeros >= 2 && At < Payload.size() && Payload[At] == 3) {
                ++At;
                Zeros = 0;
            }
            if (At >= Payload.size()) {
                Good = false;
                return 0;
            }
            Zeros = Payload[At] == 0 ? Zeros + 1 : 0;
        }
        const std::uint32_t bit = Payload[At] >> (7 - BitInByte) & 1;
        if (++BitInByte == 8) {
            BitInByte = 0;
            ++At;
        }
        return bit;
    }

    TBytes Payload;
    bool Escaped;
    std::size_t At = 0;
    int BitInByte = 0;
    int Zeros = 0;
    bool Good = true;
};

// pic_width_in_luma_samples and pic_height_in_luma_samples of an HEVC
// sequence parameter set, given without its two-byte NAL header.
std::optional<TCodedSize> SpsSize(TBytes Payload)
{
    TBitReader bits(Payload, true);
    bits.Bits(4); // sps_video_parameter_set_id
    const int subLayers = int(bits.Bits(3));
    bits.Bits(1);
    bits.Bits(88 + 8); // general profile and level
    bool profile[8] = {}, level[8] = {};
    for (int i = 0; i < subLayers; ++i) {
        profile[i] = bits.Bits(1);
        level[i] = bits.Bits(1);
    }
    if (subLayers > 0)
        bits.Bits(2 * (8 - subLayers));
    for (int i = 0; i < subLayers; ++i)
        bits.Bits((profile[i] ? 88 : 0) + (level[i] ? 8 : 0));
    bits.Unsigned(); // sps_seq_parameter_set_id
    if (bits.Unsigned() == 3)
        bits.Bits(1); // separate_colour_plane_flag
    const std::uint32_t width = bits.Unsigned();
    const std::uint32_t height = bits.Unsigned();
    if (!bits.Ok())
        return std::nullopt;
    return TCodedSize{width, height};
}

// max_frame_width_minus_1 and max_frame_height_minus_1, plus one, of an AV1
// sequence header OBU's payload.
std::optional<TCodedSize> SequenceHeaderSize(TBytes Payload)
{
    TBitReader bits(Payload, false);
    bits.Bits(3); // seq_profile
    bits.Bits(1); // still_picture
    if (bits.Bits(1)) {
        bits.Bits(5); // seq_level_idx
    } else {
        bool decoderModel = false;
        int delayLength = 0;
        if (bits.Bits(1)) { // timing_info_present_flag
            bits.Bits(32);
            bits.Bits(32);
            if (bits.Bits(1)) { // equal_picture_interval: uvlc()
                int zeros = 0;
                while (bits.Ok() && bits.Bits(1) == 0 && zeros < 32)
                    ++zeros;
                bits.Bits(zeros);
            }
            decoderModel = bits.Bits(1);
            if (decoderModel) {
                delayLength = int(bits.Bits(5)) + 1;
                bits.Bits(32);
                bits.Bits(5 + 5);
            }
        }
        const bool displayDelay = bits.Bits(1);
        const int points = int(bits.Bits(5)) + 1;
        for (int i = 0; i < points && bits.Ok(); ++i) {
            bits.Bits(12); // operating_point_idc
            if (bits.Bits(5) > 7)
                bits.Bits(1); // seq_tier
            if (decoderModel && bits.Bits(1))
                bits.Bits(2 * delayLength + 1);
            if (displayDelay && bits.Bits(1))
                bits.Bits(4);
        }
    }
    const int widthBits = int(bits.Bits(4)) + 1;
    const int heightBits = int(bits.Bits(4)) + 1;
    const std::uint32_t width = bits.Bits(widthBits) + 1;
    const std::uint32_t height = bits.Bits(heightBits) + 1;
    if (!bits.Ok())
        return std::nullopt;
    return TCodedSize{width, height};
}

// The size the first sequence header among the OBUs of Bytes announces;
// nothing when there is none before the first frame or it cannot be read.
std::optional<TCodedSize> AV1Size(TBytes Bytes)
{
    constexpr int SequenceHeader = 1, FrameHeader = 3, Frame = 6;
    std::size_t at = 0;
    while (at < Bytes.size()) {
        const int header = Bytes[at++];
        const int type = header >> 3 & 15;
        if (header & 4) // obu_extension_flag
            ++at;
        std::uint64_t size = Bytes.size() - std::min(at, Bytes.size());
        if (header & 2) { // obu_has_size_field: leb128
            size = 0;
            for (int i = 0; i < 8; ++i) {
                if (at >= Bytes.size())
                    return std::nullopt;
                const int byte = Bytes[at++];
                size |= std::uint64_t(byte & 0x7F) << (7 * i);
                if (!(byte & 0x80))
                    break;
            }
        }
        if (at > Bytes.size() || size > Bytes.size() - at)
            return std::nullopt;
        if (type == SequenceHeader)
            return SequenceHeaderSize(Bytes.substr(at, std::size_t(size)));
        if (type == FrameHeader || type == Frame)
            return std::nullopt;
        at += std::size_t(size);
    }
    return std::nullopt;
}

// The size of the first sequence parameter set in an hvcC box's body;
// nothing when it has none or it cannot be read.
std::optional<TCodedSize> HvcCSize(TBytes Body)
{
    constexpr std::uint8_t SpsType = 33;
    std::size_t at = 22;
    if (Body.size() <= at)
        return std::nullopt;
    const int arrays = Body[at++];
    for (int a = 0; a < arrays; ++a) {
        if (Body.size() - at < 3)
            return std::nullopt;
        const int type = Body[at] & 0x3F;
        const int units = int(BigEndian(Body, at + 1, 2));
        at += 3;
        for (int u = 0; u < units; ++u) {
            if (Body.size() - at < 2)
                return std::nullopt;
            const std::size_t length = BigEndian(Body, at, 2);
            at += 2;
            if (Body.size() - at < length)
                return std::nullopt;
            if (type == SpsType && length > 2)
                return SpsSize(Body.substr(at + 2, length - 2));
            at += length;
        }
    }
    return std::nullopt;
}

// Reads big-endian numbers of Count bytes; once past the end it gives
// zeros and is no longer Good.
struct TCursor {
    TBytes Bytes;
    std::size_t At = 0;
    bool Good = true;

    std::uint64_t Read(std::size_t Count)
    {
        if (!Good || Count > 8 || Bytes.size() - At < Count) {
            Good = false;
            return 0;
        }
        At += Count;
        return BigEndian(Bytes, At - Count, int(Count));
    }
};

std::uint32_t FourCC(const char* Name)
{
    return std::uint32_t(BigEndian(TBytes(reinterpret_cast<const std::uint8_t*>(Name), 4), 0, 4));
}

// An item whose data gives the size of what libheif or its decoder allocate
// before they compare it with the announced size: an image grid's or an
// overlay's canvas, or an AV1 picture, whose sequence header is in the data.
struct TSizedItem {
    std::uint32_t Id;
    std::uint32_t Type;
};

struct TFound {
    std::vector<std::optional<TCodedSize>> Coded;
    TCodedSize LargestAnnounced{0, 0};
    std::vector<TSizedItem> Sized;
    TBytes Locations; // the iloc box's body
    TBytes Inline;    // the idat box's body
};

// The grid, overlay and AV1 items of an iinf box's body.
void ReadItemTypes(TBytes Body, TFound& Found)
{
    TCursor entries{Body};
    const std::uint64_t version = entries.Read(4) >> 24;
    entries.Read(version == 0 ? 2 : 4);
    TCursor infe{Body.substr(std::min(entries.At, Body.size()))};
    while (infe.Good && infe.At < infe.Bytes.size()) {
        const std::size_t start = infe.At;
        const std::uint64_t size = infe.Read(4);
        const bool isInfe = infe.Read(4) == FourCC("infe");
        const std::uint64_t infeVersion = infe.Read(4) >> 24;
        if (isInfe && infeVersion >= 2) {
            const auto id = std::uint32_t(infe.Read(infeVersion == 2 ? 2 : 4));
            infe.Read(2); // item_protection_index
            const std::uint64_t type = infe.Read(4);
            if (infe.Good && (type == FourCC("grid") || type == FourCC("iovl") ||
                              type == FourCC("av01")))
                Found.Sized.push_back({id, std::uint32_t(type)});
        }
        if (size < 8 || size > infe.Bytes.size() - start)
            return;
        infe.At = start + std::size_t(size);
    }
}

// Walks the boxes of Bytes, going into meta, iprp and ipco, which nest no
// deeper than Depth 3; a box that runs past its parent ends the walk at that
// level, as libheif refuses it anyway.
void Walk(TBytes Bytes, TFound& Found, int Depth = 0)
{
    if (Depth > 3)
        return;
    std::size_t at = 0;
    while (Bytes.size() - at >= 8) {
        std::uint64_t size = BigEndian(Bytes, at, 4);
        const std::uint64_t type = BigEndian(Bytes, at + 4, 4);
        std::size_t header = 8;
        if (size == 1) {
            if (Bytes.size() - at < 16)
                return;
            size = BigEndian(Bytes, at + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = Bytes.size() - at;
        }
        if (size < header || size > Bytes.size() - at)
            return;
        const TBytes body = Bytes.substr(at + header, std::size_t(size) - header);
        if (type == FourCC("meta") && body.size() >= 4)
            Walk(body.substr(4), Found, Depth + 1);
        else if (type == FourCC("iprp") || type == FourCC("ipco"))
            Walk(body, Found, Depth + 1);
        else if (type == FourCC("hvcC"))
            Found.Coded.push_back(HvcCSize(body));
        else if (type == FourCC("av1C") && body.size() > 4) {
            // Its OBUs may hold no sequence header; the item's data must.
            if (const std::optional<TCodedSize> size = AV1Size(body.substr(4)))
                Found.Coded.push_back(size);
        }
        else if (type == FourCC("iinf"))
            ReadItemTypes(body, Found);
        else if (type == FourCC("iloc"))
            Found.Locations = body;
        else if (type == FourCC("idat"))
            Found.Inline = body;
        else if (type == FourCC("ispe") && body.size() >= 12) {
            Found.LargestAnnounced.Width =
                std::max(Found.LargestAnnounced.Width, std::uint32_t(BigEndian(body, 4, 4)));
            Found.LargestAnnounced.Height =
                std::max(Found.LargestAnnounced.Height, std::uint32_t(BigEndian(body, 8, 4)));
        }
        at += std::size_t(size);
    }
}

// Calls Visit(Id, Head) for every item of the iloc box, Head being the
// first bytes of its data as its extents place them in the file or in idat,
// or nothing when an extent points outside. Counts are bounded by the bytes
// that remain to hold them, an entry of zero-byte fields taking one byte,
// so that a small box cannot make the walk long: the walk stops at a count
// that the box cannot hold.
void ForEachItemHead(TBytes File, const TFound& Found,
                     const std::function<void(std::uint32_t, std::optional<TBytes>)>& Visit)
{
    constexpr std::size_t Wanted = 512;
    TCursor iloc{Found.Locations};
    const std::uint64_t version = iloc.Read(4) >> 24;
    const std::uint64_t sizes = iloc.Read(2);
    const std::size_t offsetSize = sizes >> 12 & 15, lengthSize = sizes >> 8 & 15;
    const std::size_t baseSize = sizes >> 4 & 15, indexSize = version > 0 ? sizes & 15 : 0;
    const std::size_t idSize = version < 2 ? 2 : 4;
    const std::uint64_t items = iloc.Read(idSize);
    std::size_t room = Found.Locations.size() - std::min(iloc.At, Found.Locations.size());
    const auto take = [&](std::uint64_t Count, std::size_t Each) {
        const std::size_t cost = std::max<std::size_t>(Each, 1);
        if (Count > room / cost)
            return false;
        room -= std::size_t(Count) * cost;
        return true;
    };
    if (!iloc.Good || !take(items, idSize + (version > 0 ? 2 : 0) + 2 + baseSize + 2))
        return;
    std::string head;
    for (std::uint64_t i = 0; i < items; ++i) {
        const auto id = std::uint32_t(iloc.Read(idSize));
        const std::uint64_t method = version > 0 ? iloc.Read(2) & 15 : 0;
        iloc.Read(2); // data_reference_index
        const std::uint64_t base = iloc.Read(baseSize);
        const std::uint64_t extents = iloc.Read(2);
        if (!iloc.Good || !take(extents, indexSize + offsetSize + lengthSize))
            return;
        const TBytes source = method == 1 ? Found.Inline : File;
        bool inside = method <= 1;
        head.clear();
        for (std::uint64_t e = 0; e < extents; ++e) {
            iloc.Read(indexSize);
            const std::uint64_t offset = base + iloc.Read(offsetSize);
            const std::uint64_t length = iloc.Read(lengthSize);
            if (!inside || head.size() >= Wanted)
                continue;
            inside = offset <= source.size() && length <= source.size() - offset;
            if (inside) {
                const TBytes extent = source.substr(std::size_t(offset), std::size_t(length));
                head.append(extent.begin(), extent.begin() + std::min(extent.size(), Wanted));
            }
        }
        if (!iloc.Good)
            return;
        Visit(id, inside ? std::optional(TBytes(reinterpret_cast<const std::uint8_t*>(head.data()),
                                                head.size()))
                         : std::nullopt);
    }
}

// The output size of a grid or overlay item's data.
std::optional<TCodedSize> CanvasSize(TBytes Data, bool Overlay)
{
    TCursor data{Data};
    data.Read(1); // version
    const std::size_t field = (data.Read(1) & 1) ? 4 : 2;
    data.Read(Overlay ? 8 : 2); // fill colour, or rows and columns
    const auto width = std::uint32_t(data.Read(field));
    const auto height = std::uint32_t(data.Read(field));
    if (!data.Good)
        return std::nullopt;
    return TCodedSize{width, height};
}

TFound Find(TBytes File)
{
    TFound found;
    Walk(File, found);
    return found;
}

TBytes BytesOf(const QByteArray& File)
{
    return TBytes(reinterpret_cast<const std::uint8_t*>(File.constData()),
                  std::size_t(File.size()));
}

// Refuses a size past the surface's limits or past every size the file
// announces, give or take Slack samples of padding.
void CheckAgainstAnnounced(TCodedSize Size, std::uint32_t Slack, const TFound& Found,
                           const char* What, const QString& Name)
{
    CheckSize(Size.Width, Size.Height, Name);
    const auto padded = [&](std::uint32_t Side) {
        return (std::uint64_t(Side) + Slack - 1) / Slack * Slack;
    };
    if (Size.Width > padded(Found.LargestAnnounced.Width) ||
        Size.Height > padded(Found.LargestAnnounced.Height))
        Refuse(Name, std::string("the HEIF image is damaged: its ") + What + " of " +
                         std::to_string(Size.Width) + " x " + std::to_string(Size.Height) +
                         " pixels is larger than the image it announces");
}

// Refuses an item of Type whose data, starting with Head, gives a size that
// cannot be read or is larger than announced. Coded pictures are whole coding
// blocks of up to 64 samples, which the announced size may crop; a canvas is
// exactly its announced size.
void CheckSizedItem(std::uint32_t Type, std::optional<TBytes> Head, const TFound& Found,
                    const QString& Name)
{
    if (Type == FourCC("av01")) {
        const std::optional<TCodedSize> size = Head ? AV1Size(*Head) : std::nullopt;
        if (!size)
            Refuse(Name, "the AV1 picture header of the HEIF image is damaged");
        CheckAgainstAnnounced(*size, 64, Found, "coded picture", Name);
        return;
    }
    const bool overlay = Type == FourCC("iovl");
    const std::optional<TCodedSize> size = Head ? CanvasSize(*Head, overlay) : std::nullopt;
    if (!size)
        Refuse(Name, std::string("the HEIF image is damaged: its ") +
                         (overlay ? "overlay" : "tile layout") + " cannot be read");
    CheckAgainstAnnounced(*size, 1, Found, overlay ? "overlay" : "tile layout", Name);
}

} // namespace

std::vector<std::optional<TCodedSize>> HevcCodedSizes(const QByteArray& File)
{
    return Find(BytesOf(File)).Coded;
}

std::optional<TReach> HeifReach(const QByteArray& File)
{
    // libheif's memory for a picture of the largest announced size: a
    // grid's canvas, the picture in the decoder's colours and in each step of
    // the conversion to interleaved RGB (measured, with room for deep colour
    // and alpha), then the surface.
    constexpr std::uint64_t DecoderBytesPerPixel = 16;
    const TCodedSize size = Find(BytesOf(File)).LargestAnnounced;
    if (size.Width == 0 || size.Height == 0)
        return std::nullopt;
    const std::int64_t width = size.Width, height = size.Height;
    return TReach{width, height,
                  std::uint64_t(File.size()) +
                      DecoderBytesPerPixel * std::uint64_t(width) * std::uint64_t(height) +
                      SurfaceReach(width, height)};
}

void CheckHeifSizes(const QByteArray& File, const QString& Name)
{
    const TFound found = Find(BytesOf(File));
    // Each item is checked once, at its first entry in iloc.
    std::set<std::pair<std::uint32_t, std::uint32_t>> unchecked; // id, type
    for (const TSizedItem& item : found.Sized)
        unchecked.emplace(item.Id, item.Type);
    const auto check = [&](std::uint32_t Id, std::optional<TBytes> Head) {
        const auto first = unchecked.lower_bound({Id, 0});
        const auto last = unchecked.upper_bound({Id, UINT32_MAX});
        for (auto item = first; item != last; ++item)
            CheckSizedItem(item->second, Head, found, Name);
        unchecked.erase(first, last);
    };
    if (!unchecked.empty())
        ForEachItemHead(BytesOf(File), found, check);
    while (!unchecked.empty())
        check(unchecked.begin()->first, std::nullopt);
    for (const std::optional<TCodedSize>& coded : found.Coded) {
        if (!coded)
            Refuse(Name, "the HEVC picture header of the HEIF image is damaged");
        CheckAgainstAnnounced(*coded, 64, found, "coded picture", Name);
    }
}

} // namespace tavrin::imagefiles
