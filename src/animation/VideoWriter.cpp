// MP4 (H.264) and WebM (VP9) through the ffmpeg program: raw frames go to it
// over a socket, so that Tavrin never links the codecs' libraries. A socket
// rather than a pipe, because a send with MSG_NOSIGNAL reports an ffmpeg
// that died as an error instead of killing Tavrin with SIGPIPE.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "FrameWriter.h"
#include "SurfaceError.h"

extern char** environ;

namespace tavrin {
namespace {

// The last of ffmpeg's messages that an error message shows.
constexpr std::size_t ShownErrorBytes = 2000;

} // namespace

std::vector<std::string> FfmpegArguments(std::int32_t Width, std::int32_t Height,
                                         const TAnimationOptions& Options, TVideoCodec Codec,
                                         const std::string& Output)
{
    const TVideoQuality quality = VideoQuality(Codec, Options.Quality);
    std::vector<std::string> args = {
        "ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin",
        // The surface's own byte order, so that the frames go out as they are.
        "-f", "rawvideo", "-pix_fmt", "bgr24",
        "-s", std::to_string(Width) + "x" + std::to_string(Height),
        "-framerate", std::to_string(Options.Fps), "-i", "-"};
    // 4:2:0 chroma needs even sides: an odd one gets a black line.
    if (Width % 2 || Height % 2)
        args.insert(args.end(), {"-vf", "pad=ceil(iw/2)*2:ceil(ih/2)*2"});
    // x264 looks 40 frames ahead by default, some 7 MB a frame at full HD,
    // so its memory grew with the first 40 frames of an export. Three keep
    // it flat; on sweeps they gave files a fifth smaller for 0.2 dB of PSNR.
    if (Codec == TVideoCodec::H264)
        args.insert(args.end(), {"-c:v", "libx264", "-crf", std::to_string(quality.Crf),
                                 "-rc-lookahead", "3", "-pix_fmt", "yuv420p", "-movflags",
                                 "+faststart", "-f", "mp4"});
    else
        args.insert(args.end(), {"-c:v", "libvpx-vp9", "-crf", std::to_string(quality.Crf),
                                 "-b:v", "0", "-row-mt", "1", "-cpu-used", "4", "-pix_fmt",
                                 "yuv420p", "-f", "webm"});
    args.insert(args.end(), {"-y", Output});
    return args;
}

namespace {

class TVideoWriter : public TFrameWriter {
public:
    TVideoWriter(std::int32_t Width, std::int32_t Height, const TAnimationOptions& Options,
                 TVideoCodec Codec, const std::string& Output)
    {
        const std::string program = FindFfmpeg();
        if (program.empty())
            throw SurfaceError(MissingFfmpegMessage);
        ErrorText = memfd_create("ffmpeg-messages", MFD_CLOEXEC);
        int sockets[2];
        if (ErrorText < 0 ||
            socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
            throw SurfaceError("Cannot start ffmpeg: out of file descriptors");
        Frames = sockets[0];
        const std::vector<std::string> args =
            FfmpegArguments(Width, Height, Options, Codec, Output);
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);

        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_adddup2(&files, sockets[1], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&files, ErrorText, STDERR_FILENO);
        // A group of its own: Ctrl+C reaches Tavrin alone, which then ends ffmpeg.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        const int error =
            posix_spawn(&Child, program.c_str(), &files, &attributes, argv.data(), environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&files);
        close(sockets[1]);
        if (error != 0) {
            Child = -1;
            throw SurfaceError("Cannot start " + program + ": " + std::strerror(error));
        }
        RowBytes = std::size_t(Width) * 3;
    }

    ~TVideoWriter() override
    {
        // Not finished: cancelled or failed, so ffmpeg's file is not wanted.
        if (Child > 0) {
            kill(Child, SIGKILL);
            Wait();
        }
        if (Frames >= 0)
            close(Frames);
        if (ErrorText >= 0)
            close(ErrorText);
    }

    void Add(const TWin& Frame) override
    {
        if (Frame.Stride == RowBytes) {
            Send(Frame.Bits, RowBytes * std::size_t(Frame.Height()));
            return;
        }
        for (std::int32_t y = 0; y < Frame.Height(); ++y)
            Send(Frame.Row(y), RowBytes);
    }

    void Finish() override
    {
        close(Frames);
        Frames = -1;
        const int status = Wait();
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            Fail();
    }

private:
    void Send(const std::uint8_t* Data, std::size_t Size)
    {
        while (Size > 0) {
            const ssize_t sent = send(Frames, Data, Size, MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent <= 0) {
                // ffmpeg stopped reading: it failed, and says why when it ends.
                close(Frames);
                Frames = -1;
                Wait();
                Fail();
            }
            Data += sent;
            Size -= std::size_t(sent);
        }
    }

    int Wait()
    {
        int status = 0;
        while (waitpid(Child, &status, 0) < 0 && errno == EINTR) {
        }
        Child = -1;
        return status;
    }

    [[noreturn]] void Fail() const
    {
        std::string text(ShownErrorBytes, '\0');
        const off_t end = lseek(ErrorText, 0, SEEK_END);
        const off_t start = end > off_t(ShownErrorBytes) ? end - off_t(ShownErrorBytes) : 0;
        const ssize_t got = pread(ErrorText, text.data(), text.size(), start);
        text.resize(got > 0 ? std::size_t(got) : 0);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        throw SurfaceError("ffmpeg failed" + (text.empty() ? std::string(" without a message")
                                                           : ":\n" + text));
    }

    pid_t Child = -1;
    int Frames = -1;
    int ErrorText = -1;
    std::size_t RowBytes = 0;
};

} // namespace

const char* const MissingFfmpegMessage =
    "MP4 and WebM are written by the ffmpeg program, which is not installed "
    "(on Debian: apt install ffmpeg)";

std::string FindFfmpeg()
{
    const char* path = std::getenv("PATH");
    const std::string folders = path ? path : "";
    for (std::size_t start = 0; start <= folders.size();) {
        std::size_t colon = folders.find(':', start);
        if (colon == std::string::npos)
            colon = folders.size();
        const std::string folder = folders.substr(start, colon - start);
        const std::string program = (folder.empty() ? "." : folder) + "/ffmpeg";
        if (access(program.c_str(), X_OK) == 0)
            return program;
        start = colon + 1;
    }
    return {};
}

TVideoQuality VideoQuality(TVideoCodec Codec, std::optional<int> Quality)
{
    // Quality 100 is CRF 0, quality 1 the codec's coarsest; the default,
    // 65, is CRF 18 for H.264, which people cannot tell from the frames.
    const int quality = Quality.value_or(DefaultVideoQuality);
    const int worst = Codec == TVideoCodec::H264 ? 51 : 63;
    return {(worst * (100 - quality) + 50) / 100};
}

std::unique_ptr<TFrameWriter> MakeVideoWriter(std::int32_t Width, std::int32_t Height,
                                              const TAnimationOptions& Options, TVideoCodec Codec,
                                              const std::string& Output)
{
    return std::make_unique<TVideoWriter>(Width, Height, Options, Codec, Output);
}

} // namespace tavrin
