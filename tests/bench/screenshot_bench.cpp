// Screenshot pipeline benchmark: from a captured BGRX frame to the finished data
// URL, next to a plain single-threaded libpng encoder (zlib level 1, Sub filter)
// of the same pixels as the in-run baseline.
//
//   screenshot_bench [--frames=DIR] [--verify-only] [benchmark flags]
//
// --verify-only checks that the pipeline's PNG of both frames decodes to exactly
// the expected pixels, with either deflater, that the fitted JPEG and PNG at
// 1568 px decode at that size and close to the exact area average, and stops
// there.
//
// The fit cases take the capture buffer to a fitted image (1568 px, no byte
// budget): fit_jpeg and fit_png the action's own path on one thread
// (fit_jpeg_threads with the resampler's threads), fit_jpeg_floor
// libjpeg-turbo alone on pixels already resized, fit_jpeg_plain a
// straightforward per-pixel resize loop plus the same encoder. Their counters
// give the encoded bytes and the PSNR against the exact area average.
//
// Beside every case that reads a frame: frame_read, the bytes one output image
// reads from the frame in memory over the frame's size (1 is the floor for
// anything that looks at every pixel; see count_frame_reads), and memcpy_x,
// its time over that of copying the frame once (memcpy/<frame>, same run).
// DIR holds desk1080.png (1920x1080) and desk4k.png (3840x2160); it defaults to
// tests/bench/frames in the repository.

#include <benchmark/benchmark.h>
#include <png.h>

#include <signal.h>
#include <sys/mman.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include "cua_actions/windows/screenshot_encode.h"
#include "cua_actions/windows/screenshot_fit.h"
#include "cua_actions/windows/screenshot_jpeg.h"
#include "support/area_average_reference.h"
#include "support/screenshot_reference.h"
#include "text/text.h"

namespace {

using namespace cua_actions::windows;

struct Frame {
    std::string name;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> bgrx;  // as the capture delivers it
    BgrxView view() const { return BgrxView{bgrx.data(), width, height}; }
};

// Decodes a PNG file into the BGRX layout of a capture (fourth byte 0).
bool load_frame(const std::string& path, Frame& frame) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        std::fprintf(stderr, "cannot read %s: %s\n", path.c_str(), image.message);
        return false;
    }
    image.format = PNG_FORMAT_BGRA;
    frame.bgrx.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, frame.bgrx.data(), 0, nullptr)) {
        std::fprintf(stderr, "cannot decode %s: %s\n", path.c_str(), image.message);
        return false;
    }
    frame.width = static_cast<std::int32_t>(image.width);
    frame.height = static_cast<std::int32_t>(image.height);
    for (std::size_t i = 3; i < frame.bgrx.size(); i += 4) {
        frame.bgrx[i] = 0;
    }
    return true;
}

// The action's work after the capture: blackout test, reduction, conversion,
// PNG, base64 data URL.
std::string pipeline(BgrxView view, const PngOptions& options) {
    if (is_blackout(count_dark_samples(view))) {
        return {};
    }
    VectorPngSink png;
    if (!encode_png(view, scale_factor(view.width, view.height), png, options).ok()) {
        return {};
    }
    return png_data_url(png.bytes);
}

// The straightforward encoder: libpng writing RGBA rows at zlib level 1, Sub filter.
std::vector<std::uint8_t> baseline_png(const std::vector<std::uint8_t>& rgba, std::int32_t width,
                                       std::int32_t height) {
    std::vector<std::uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, png_size_t size) {
            auto* bytes = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(p));
            bytes->insert(bytes->end(), data, data + size);
        },
        nullptr);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_write_info(png, info);
    for (std::int32_t y = 0; y < height; ++y) {
        png_write_row(png, rgba.data() + static_cast<std::size_t>(y) * width * 4);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// Checks once that the pipeline's PNG decodes to exactly the expected pixels.
bool verify(const Frame& frame, const PngOptions& options, const char* label) {
    const std::string url = pipeline(frame.view(), options);
    const auto bytes = text::base64_decode(url.substr(std::strlen("data:image/png;base64,")));
    if (!bytes) {
        return false;
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes->data(), bytes->size())) {
        return false;
    }
    image.format = PNG_FORMAT_RGBA;
    std::vector<std::uint8_t> decoded(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, decoded.data(), 0, nullptr)) {
        return false;
    }
    const BgrxView view{frame.bgrx.data(), frame.width, frame.height};
    const int factor = scale_factor(frame.width, frame.height);
    const ImageSize size = output_size(frame.width, frame.height, factor);
    const std::vector<std::uint8_t> reduced = sim::reduce_box_average(view, factor);
    std::printf("%s %s: %dx%d -> %dx%d, PNG %zu bytes, data URL %zu bytes\n", frame.name.c_str(),
                label, frame.width, frame.height, size.width, size.height, bytes->size(),
                url.size());
    return decoded == sim::bgrx_to_rgba(BgrxView{reduced.data(), size.width, size.height});
}

// --- the fitted image ----------------------------------------------------------

constexpr std::int32_t kFitSize = 1568;
constexpr int kFitQuality = 85;

// The resampler on the calling thread only, as the fit cases measure it.
constexpr ResampleOptions kOneThread{true, 1};

// The action's work after the capture on the fitted path: resampling with the
// blackout test on the way, encoding, data URL.
std::string fit_pipeline(BgrxView view, FitFormat format,
                         const ResampleOptions& options = kOneThread) {
    const auto fitted = fit_screenshot(view, FitRequest{kFitSize, std::nullopt, format}, options);
    return fitted && fitted->has_value() ? image_data_url(**fitted) : std::string();
}

// The straightforward resize: every image pixel walks its source rectangle
// with floating-point overlaps.
std::vector<std::uint8_t> plain_resize(BgrxView frame, ImageSize size) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(size.width) * size.height * 4);
    const double sx = static_cast<double>(frame.width) / size.width;
    const double sy = static_cast<double>(frame.height) / size.height;
    std::uint8_t* target = out.data();
    for (int y = 0; y < size.height; ++y) {
        for (int x = 0; x < size.width; ++x, target += 4) {
            double sum[3] = {0, 0, 0};
            for (int j = static_cast<int>(y * sy); j < std::ceil((y + 1) * sy); ++j) {
                const double h = std::min((y + 1) * sy, j + 1.0) - std::max(y * sy, double(j));
                for (int i = static_cast<int>(x * sx); i < std::ceil((x + 1) * sx); ++i) {
                    const double w =
                        (std::min((x + 1) * sx, i + 1.0) - std::max(x * sx, double(i)));
                    const std::uint8_t* p =
                        frame.pixels + (static_cast<std::size_t>(j) * frame.width + i) * 4;
                    for (int c = 0; c < 3; ++c) {
                        sum[c] += w * h * p[c];
                    }
                }
            }
            for (int c = 0; c < 3; ++c) {
                target[c] = static_cast<std::uint8_t>(sum[c] / (sx * sy) + 0.5);
            }
        }
    }
    return out;
}

std::vector<std::uint8_t> encode_or_empty(const std::vector<std::uint8_t>& bgrx, ImageSize size) {
    auto jpeg = encode_jpeg(BgrxView{bgrx.data(), size.width, size.height}, kFitQuality);
    return jpeg ? std::move(*jpeg) : std::vector<std::uint8_t>();
}

struct Decoded {
    ImageSize size;
    std::vector<std::uint8_t> bgrx;
};

// libjpeg's default error handling ends the program, which suits a benchmark.
Decoded decode_jpeg(const std::vector<std::uint8_t>& bytes) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&info);
    Decoded decoded{
        {static_cast<std::int32_t>(info.output_width),
         static_cast<std::int32_t>(info.output_height)},
        std::vector<std::uint8_t>(std::size_t{info.output_width} * info.output_height * 4)};
    while (info.output_scanline < info.output_height) {
        JSAMPROW row =
            decoded.bgrx.data() + std::size_t{info.output_scanline} * info.output_width * 4;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return decoded;
}

Decoded decode_png(const std::vector<std::uint8_t>& bytes) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Decoded decoded;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
        return decoded;
    }
    image.format = PNG_FORMAT_BGRA;
    decoded.bgrx.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, decoded.bgrx.data(), 0, nullptr)) {
        return Decoded{};
    }
    decoded.size =
        ImageSize{static_cast<std::int32_t>(image.width), static_cast<std::int32_t>(image.height)};
    return decoded;
}

// Peak signal-to-noise ratio of blue, green and red against the exact average.
double psnr(const std::vector<std::uint8_t>& bgrx, const std::vector<double>& reference) {
    double squared = 0;
    for (std::size_t p = 0; p < reference.size() / 3; ++p) {
        for (std::size_t c = 0; c < 3; ++c) {
            const double d = bgrx[p * 4 + c] - reference[p * 3 + c];
            squared += d * d;
        }
    }
    const double mse = squared / static_cast<double>(reference.size());
    return mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99.0;
}

struct FitFigures {
    ImageSize size;
    std::vector<double> reference;        // exact area average at the fitted size
    std::vector<std::uint8_t> resampled;  // our resampler's pixels
    std::vector<std::uint8_t> jpeg, png;  // the fitted images' bytes
    double jpeg_psnr = 0, png_psnr = 0;
};

bool measure_fit(const Frame& frame, FitFigures& figures) {
    const BgrxView view{frame.bgrx.data(), frame.width, frame.height};
    figures.size = fitted_size(ImageSize{frame.width, frame.height}, kFitSize);
    figures.reference = sim::area_average_reference(frame.bgrx.data(), frame.width, frame.height,
                                                    figures.size.width, figures.size.height);
    figures.resampled = resample_area_average(view, figures.size);
    for (const FitFormat format : {FitFormat::jpeg, FitFormat::png}) {
        const auto fitted = fit_screenshot(view, FitRequest{kFitSize, std::nullopt, format});
        if (!fitted || !fitted->has_value()) {
            return false;
        }
        const EncodedImage* image = &**fitted;
        const bool jpeg = format == FitFormat::jpeg;
        const Decoded decoded = jpeg ? decode_jpeg(image->bytes) : decode_png(image->bytes);
        if (decoded.size != figures.size) {
            return false;
        }
        (jpeg ? figures.jpeg : figures.png) = image->bytes;
        (jpeg ? figures.jpeg_psnr : figures.png_psnr) = psnr(decoded.bgrx, figures.reference);
    }
    return true;
}

// The fitted JPEG and PNG decode at 1568 px and match the exact area average:
// the PNG within rounding, the JPEG at 30 dB or better.
bool verify_fit(const Frame& frame, const FitFigures& figures) {
    std::printf("%s fitted: %dx%d, JPEG q%d %zu bytes (%.2f dB), PNG %zu bytes (%.2f dB)\n",
                frame.name.c_str(), figures.size.width, figures.size.height, kFitQuality,
                figures.jpeg.size(), figures.jpeg_psnr, figures.png.size(), figures.png_psnr);
    return std::max(figures.size.width, figures.size.height) == kFitSize &&
           figures.jpeg_psnr >= 30 && figures.png_psnr >= 50;
}

// --- bytes read from the frame -------------------------------------------------
// Counted with page protection: the body reads a copy of the frame in pages
// that fault when touched; each fault counts the page and opens it, and the
// page opened longest ago is closed again once more than kOpenPages are open.
// A page is thus counted again only when a cache's worth of other frame pages
// came between two reads of it, as the memory sees it; a sparse read costs its
// whole page. One thread only.

constexpr std::size_t kPage = 4096;
// About what the caches hold of a stream of frame rows (1 MiB).
constexpr std::size_t kOpenPages = 256;

struct PageCounter {
    std::uint8_t* base = nullptr;
    std::size_t size = 0;
    std::size_t faults = 0;
    std::uint8_t* open[kOpenPages] = {};
    std::size_t next = 0;
};
PageCounter g_pages;

void on_page_fault(int, siginfo_t* info, void*) {
    auto* address = static_cast<std::uint8_t*>(info->si_addr);
    if (address < g_pages.base || address >= g_pages.base + g_pages.size) {
        signal(SIGSEGV, SIG_DFL);  // not ours: fault again, for real
        return;
    }
    std::uint8_t* page = g_pages.base + (address - g_pages.base) / kPage * kPage;
    ++g_pages.faults;
    std::uint8_t*& slot = g_pages.open[g_pages.next];
    if (slot != nullptr) {
        mprotect(slot, kPage, PROT_NONE);
    }
    slot = page;
    g_pages.next = (g_pages.next + 1) % kOpenPages;
    mprotect(page, kPage, PROT_READ);
}

// Runs `body` once on a counted copy of the frame: the bytes it read from the
// frame over the frame's size.
double count_frame_reads(const Frame& frame, const std::function<void(BgrxView)>& body) {
    const std::size_t size = (frame.bgrx.size() + kPage - 1) / kPage * kPage;
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        return 0;
    }
    std::memcpy(memory, frame.bgrx.data(), frame.bgrx.size());
    g_pages = PageCounter{static_cast<std::uint8_t*>(memory), size};
    struct sigaction action {};
    action.sa_sigaction = on_page_fault;
    action.sa_flags = SA_SIGINFO;
    struct sigaction previous {};
    sigaction(SIGSEGV, &action, &previous);
    mprotect(memory, size, PROT_NONE);
    body(BgrxView{static_cast<const std::uint8_t*>(memory), frame.width, frame.height});
    sigaction(SIGSEGV, &previous, nullptr);
    munmap(memory, size);
    return static_cast<double>(g_pages.faults * kPage) / static_cast<double>(frame.bgrx.size());
}

// Keeps the median (or the only) real time of every benchmark for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (median || single) {
                times_ms[run.run_name.function_name] = run.GetAdjustedRealTime();
                cpu_ms[run.run_name.function_name] = run.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times_ms;
    std::map<std::string, double> cpu_ms;  // all threads of the process
};

void print_ratio(const char* what, const std::map<std::string, double>& times,
                 const std::string& numerator, const std::string& denominator) {
    const auto n = times.find(numerator);
    const auto d = times.find(denominator);
    if (n != times.end() && d != times.end() && d->second > 0) {
        std::printf("%s ratio %s / %s = %.3f\n", what, numerator.c_str(), denominator.c_str(),
                    n->second / d->second);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string frames_dir = ZELTO_DEFAULT_FRAMES_DIR;
    std::vector<char*> args;
    bool repetitions_given = false;
    bool verify_only = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--frames=", 0) == 0) {
            frames_dir = arg.substr(std::strlen("--frames="));
            continue;
        }
        if (arg == "--verify-only") {
            verify_only = true;
            continue;
        }
        repetitions_given |= arg.rfind("--benchmark_repetitions", 0) == 0;
        args.push_back(argv[i]);
    }
    // Medians of several repetitions: the machine is shared and noisy.
    std::string repetitions = "--benchmark_repetitions=9";
    std::string aggregates = "--benchmark_report_aggregates_only=true";
    if (!repetitions_given) {
        args.push_back(repetitions.data());
        args.push_back(aggregates.data());
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());

    static std::vector<Frame> frames(2);
    frames[0].name = "1080p";
    frames[1].name = "4K";
    if (!load_frame(frames_dir + "/desk1080.png", frames[0]) ||
        !load_frame(frames_dir + "/desk4k.png", frames[1])) {
        std::fprintf(stderr, "frames not found; pass --frames=DIR\n");
        return 2;
    }
    for (const Frame& frame : frames) {
        if (!verify(frame, PngOptions{}, "fast deflate") ||
            !verify(frame, PngOptions{0, 0, sim::zlib_deflate_strip}, "zlib level 1")) {
            std::fprintf(stderr, "%s: pipeline output does not decode to the expected pixels\n",
                         frame.name.c_str());
            return 1;
        }
    }
    static std::vector<FitFigures> fit_figures(frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (!measure_fit(frames[i], fit_figures[i]) || !verify_fit(frames[i], fit_figures[i])) {
            std::fprintf(stderr, "%s: the fitted image is not the expected size or quality\n",
                         frames[i].name.c_str());
            return 1;
        }
    }
    if (verify_only) {
        return 0;
    }

    // Copying each frame once: what reading it at the memory's pace costs.
    static std::vector<std::uint8_t> copy_target(frames[1].bgrx.size());
    for (const Frame& frame : frames) {
        const Frame* f = &frame;
        benchmark::RegisterBenchmark(("memcpy/" + f->name).c_str(),
                                     [f](benchmark::State& state) {
                                         for (auto _ : state) {
                                             std::memcpy(copy_target.data(), f->bgrx.data(),
                                                         f->bgrx.size());
                                             benchmark::ClobberMemory();
                                         }
                                     })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MeasureProcessCPUTime();
    }

    // Every case that reads a frame: its body, and the bytes it reads from it
    // (counted once, outside the timed loop, only for the cases that run).
    const auto frame_case = [](const std::string& name, const Frame* f,
                               std::function<void(BgrxView)> body,
                               std::function<void(BgrxView)> counted, std::size_t bytes,
                               double quality) {
        auto read = std::make_shared<double>(-1);
        benchmark::RegisterBenchmark(
            name.c_str(),
            [f, body, counted, read, bytes, quality](benchmark::State& state) {
                if (*read < 0) {
                    *read = count_frame_reads(*f, counted ? counted : body);
                }
                for (auto _ : state) {
                    body(f->view());
                }
                state.counters["frame_read"] = *read;
                if (bytes != 0) {
                    state.counters["bytes"] = static_cast<double>(bytes);
                    state.counters["psnr_dB"] = quality;
                }
            })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MeasureProcessCPUTime();
    };

    // The pipeline as shipped, on one thread, and with zlib's level 1 in place
    // of the fast deflate (same strips, same threads). The frame reads are
    // counted on one thread (the strips read the same rows either way).
    const PngOptions one_thread{1, 0, nullptr};
    const std::pair<const char*, PngOptions> variants[] = {
        {"pipeline/", PngOptions{}},
        {"pipeline_1thread/", one_thread},
        {"pipeline_zlib/", PngOptions{0, 0, sim::zlib_deflate_strip}},
    };
    for (const Frame& frame : frames) {
        for (const auto& [prefix, options] : variants) {
            const PngOptions chosen = options;
            PngOptions counted = options;
            counted.threads = 1;
            frame_case(
                prefix + frame.name, &frame,
                [chosen](BgrxView view) { benchmark::DoNotOptimize(pipeline(view, chosen)); },
                [counted](BgrxView view) { benchmark::DoNotOptimize(pipeline(view, counted)); }, 0,
                0);
        }
    }
    const Frame* full = &frames[0];
    static const std::vector<std::uint8_t> rgba = sim::bgrx_to_rgba(full->view());
    benchmark::RegisterBenchmark(
        "baseline_libpng/1080p",
        [full](benchmark::State& state) {
            for (auto _ : state) {
                benchmark::DoNotOptimize(baseline_png(rgba, full->width, full->height));
            }
        })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MeasureProcessCPUTime();

    // The fitted image, one thread throughout (the PNG's own strips aside),
    // and the JPEG once more with the resampler's threads.
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Frame* f = &frames[i];
        const FitFigures* figures = &fit_figures[i];
        frame_case(
            "fit_jpeg/" + f->name, f,
            [](BgrxView view) { benchmark::DoNotOptimize(fit_pipeline(view, FitFormat::jpeg)); },
            nullptr, figures->jpeg.size(), figures->jpeg_psnr);
        frame_case(
            "fit_jpeg_threads/" + f->name, f,
            [](BgrxView view) {
                benchmark::DoNotOptimize(fit_pipeline(view, FitFormat::jpeg, ResampleOptions{}));
            },
            [](BgrxView view) { benchmark::DoNotOptimize(fit_pipeline(view, FitFormat::jpeg)); },
            figures->jpeg.size(), figures->jpeg_psnr);
        frame_case(
            "fit_png/" + f->name, f,
            [](BgrxView view) { benchmark::DoNotOptimize(fit_pipeline(view, FitFormat::png)); },
            nullptr, figures->png.size(), figures->png_psnr);
        // Pixels already resized: nothing of the frame is read.
        benchmark::RegisterBenchmark(
            ("fit_jpeg_floor/" + f->name).c_str(),
            [figures](benchmark::State& state) {
                for (auto _ : state) {
                    benchmark::DoNotOptimize(encode_or_empty(figures->resampled, figures->size));
                }
                state.counters["frame_read"] = 0;
                state.counters["bytes"] = static_cast<double>(figures->jpeg.size());
                state.counters["psnr_dB"] = figures->jpeg_psnr;
            })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MeasureProcessCPUTime();
        const std::vector<std::uint8_t> plain = plain_resize(f->view(), figures->size);
        const std::vector<std::uint8_t> plain_jpeg = encode_or_empty(plain, figures->size);
        frame_case(
            "fit_jpeg_plain/" + f->name, f,
            [figures](BgrxView view) {
                benchmark::DoNotOptimize(
                    encode_or_empty(plain_resize(view, figures->size), figures->size));
            },
            nullptr, plain_jpeg.size(), psnr(decode_jpeg(plain_jpeg).bgrx, figures->reference));
    }

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const auto& [what, times] :
         {std::pair{"wall", &reporter.times_ms}, std::pair{"cpu", &reporter.cpu_ms}}) {
        print_ratio(what, *times, "pipeline/1080p", "baseline_libpng/1080p");
        print_ratio(what, *times, "pipeline/4K", "pipeline/1080p");
        print_ratio(what, *times, "pipeline_1thread/1080p", "baseline_libpng/1080p");
        print_ratio(what, *times, "pipeline_zlib/1080p", "baseline_libpng/1080p");
        print_ratio(what, *times, "pipeline_zlib/4K", "pipeline_zlib/1080p");
        for (const char* frame : {"1080p", "4K"}) {
            const std::string name = frame;
            print_ratio(what, *times, "fit_jpeg/" + name, "fit_jpeg_floor/" + name);
            print_ratio(what, *times, "fit_jpeg_threads/" + name, "fit_jpeg_floor/" + name);
            print_ratio(what, *times, "fit_jpeg_plain/" + name, "fit_jpeg/" + name);
            print_ratio(what, *times, "fit_png/" + name, "fit_jpeg/" + name);
        }
    }
    // memcpy_x: each case that reads a frame over one copy of that frame.
    for (const auto& [name, time] : reporter.times_ms) {
        const std::string frame = name.substr(name.find('/') + 1);
        if (name.rfind("memcpy/", 0) != 0 && name.rfind("baseline", 0) != 0 &&
            name.rfind("fit_jpeg_floor", 0) != 0) {
            print_ratio("memcpy_x", reporter.times_ms, name, "memcpy/" + frame);
        }
    }
    benchmark::Shutdown();
    return 0;
}
