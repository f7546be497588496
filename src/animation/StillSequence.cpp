#include "StillSequence.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "SurfaceError.h"

namespace tavrin {
namespace {

[[noreturn]] void BadPattern(const std::string& FileName)
{
    throw SurfaceError("The frame number in " + FileName +
                       " must be written %d, or with a width such as %04d; %% stands for %");
}

bool EndsWithBitmap(const std::string& FileName)
{
    if (FileName.size() < 4)
        return false;
    std::string extension = FileName.substr(FileName.size() - 4);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension == ".bmp";
}

// Renames From to To; a failure names Target, the file the user sees.
void Move(const std::string& From, const std::string& To, const std::string& Target)
{
    if (std::rename(From.c_str(), To.c_str()) != 0)
        throw SurfaceError("Cannot replace file " + Target + ": " + std::strerror(errno));
}

// Moves File to Aside; false when there is no File.
bool MoveAside(const std::string& File, const std::string& Aside)
{
    if (access(File.c_str(), F_OK) != 0 && errno == ENOENT)
        return false;
    Move(File, Aside, File);
    return true;
}

class TStillSequence : public TFrameWriter {
public:
    TStillSequence(const TFramePattern& Pattern, TStillWriter WriteStill)
        : Pattern(Pattern), WriteStill(std::move(WriteStill))
    {
        Hidden = Pattern.Folder + ".tavrin-frames-XXXXXX";
        if (!mkdtemp(Hidden.data()))
            throw SurfaceError("Cannot create file " + FrameFileName(Pattern, 1));
        Hidden += '/';
        Inside = Pattern;
        Inside.Folder = Hidden;
    }

    ~TStillSequence() override
    {
        if (!Hidden.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(Hidden, ignored);
        }
    }

    void Add(const TWin& Frame) override
    {
        ++Count;
        WriteStill(Frame, FrameFileName(Inside, Count));
    }

    void Finish() override
    {
        // Every target is checked before the first one is replaced.
        for (std::int64_t n = 1; n <= Count; ++n) {
            const std::string target = FrameFileName(Pattern, n);
            struct stat old;
            if (stat(target.c_str(), &old) == 0 &&
                (!S_ISREG(old.st_mode) || access(target.c_str(), W_OK) != 0))
                throw SurfaceError("Cannot create file " + target);
        }
        // A rename can still fail (an append-only file, another user's file
        // in a sticky folder): the old files move aside first and come back
        // on any failure, so the folder holds either the whole new sequence
        // or the old one as it was.
        const std::string aside = Hidden + "old/"; // no digit: never a frame's name
        if (mkdir(aside.c_str(), 0700) != 0)
            throw SurfaceError("Cannot create file " + FrameFileName(Pattern, 1));
        std::vector<bool> moved(std::size_t(Count) + 1, false);
        std::int64_t placed = 0;
        try {
            for (std::int64_t n = 1; n <= Count; ++n)
                moved[std::size_t(n)] =
                    MoveAside(FrameFileName(Pattern, n), aside + std::to_string(n));
            for (; placed < Count; ++placed) {
                const std::string target = FrameFileName(Pattern, placed + 1);
                Move(FrameFileName(Inside, placed + 1), target, target);
            }
        } catch (const SurfaceError&) {
            for (std::int64_t n = 1; n <= placed; ++n)
                std::rename(FrameFileName(Pattern, n).c_str(), FrameFileName(Inside, n).c_str());
            for (std::int64_t n = 1; n <= Count; ++n)
                if (moved[std::size_t(n)])
                    std::rename((aside + std::to_string(n)).c_str(),
                                FrameFileName(Pattern, n).c_str());
            throw;
        }
        std::error_code ignored;
        std::filesystem::remove_all(Hidden, ignored);
        Hidden.clear();
    }

private:
    TFramePattern Pattern;
    TFramePattern Inside;
    TStillWriter WriteStill;
    std::string Hidden;
    std::int64_t Count = 0;
};

} // namespace

std::optional<TFramePattern> FindFramePattern(const std::string& FileName)
{
    const std::size_t slash = FileName.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    if (FileName.find('%', start) == std::string::npos)
        return std::nullopt;
    TFramePattern pattern;
    pattern.Folder = FileName.substr(0, start);
    bool found = false;
    for (std::size_t i = start; i < FileName.size(); ++i) {
        std::string& text = found ? pattern.After : pattern.Before;
        if (FileName[i] != '%') {
            text += FileName[i];
            continue;
        }
        if (i + 1 < FileName.size() && FileName[i + 1] == '%') {
            text += '%';
            ++i;
            continue;
        }
        if (found)
            BadPattern(FileName);
        std::size_t j = i + 1;
        pattern.Zeros = j < FileName.size() && FileName[j] == '0';
        for (; j < FileName.size() && std::isdigit(static_cast<unsigned char>(FileName[j])); ++j)
            if ((pattern.Width = pattern.Width * 10 + (FileName[j] - '0')) > 9)
                BadPattern(FileName);
        if (j == FileName.size() || FileName[j] != 'd')
            BadPattern(FileName);
        found = true;
        i = j;
    }
    if (!found)
        return std::nullopt; // only %% signs: an ordinary name
    return pattern;
}

std::string FrameFileName(const TFramePattern& Pattern, std::int64_t Number)
{
    std::string digits = std::to_string(Number);
    if (digits.size() < std::size_t(Pattern.Width))
        digits.insert(0, std::size_t(Pattern.Width) - digits.size(), Pattern.Zeros ? '0' : ' ');
    return Pattern.Folder + Pattern.Before + digits + Pattern.After;
}

void WriteBitmapStill(const TWin& Frame, const std::string& FileName)
{
    if (!EndsWithBitmap(FileName))
        throw SurfaceError("Stills can be written as .bmp files only, not as " + FileName);
    Frame.SaveToFile(FileName);
}

std::unique_ptr<TFrameWriter> MakeStillWriter(const TFramePattern& Pattern,
                                              TStillWriter WriteStill)
{
    return std::make_unique<TStillSequence>(Pattern, std::move(WriteStill));
}

} // namespace tavrin
