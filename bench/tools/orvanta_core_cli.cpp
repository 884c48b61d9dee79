// orvanta_cli: the GUI-free core driven from the command line, so benchmark
// scripts can time whole processes of the program's own work beside whole
// processes of other tools on the same files. Not a user feature: each
// subcommand does what the program does for one piece of work, through the
// same core functions, and nothing else.
//
//   orvanta_cli open FILE
//       loads FILE as the program opens it; prints "FILE: W x H, format".
//   orvanta_cli convert IN OUT
//       loads IN and writes OUT in the format of OUT's extension with the
//       choices the program makes when nobody is asked (the batch run's
//       writer): PNG/TGA/TIFF keep alpha when the picture has transparency,
//       DDS is BC5 for a normal map, else DXT5 with alpha, else DXT1, with mips.
//   orvanta_cli dds IN OUT --format dxt1|dxt5|bc5|rgba [--mips]
//       loads IN and writes a DDS file in the given format, as Save As does
//       after the DDS window.
//   orvanta_cli resize FILE WIDTH HEIGHT
//       loads FILE and resizes it as the Resize window does (halvings while
//       a side is at least twice its target, then one smooth resample);
//       prints "W x H" of the result and writes nothing.
//   orvanta_cli batch [--to EXT] OUTFOLDER FILES...
//       a batch run to DDS (or to EXT: tga, png, ...): every file loaded and
//       written into OUTFOLDER by the batch's own conversion; same names are
//       numbered (name_2), existing outputs are skipped; prints the run's
//       summary.
//
// Exit status: 0 done, 1 a load or a write failed, 2 wrong arguments.
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "formats/batch_convert.h"
#include "formats/dds.h"
#include "formats/dispatch.h"
#include "formats/formats.h"
#include "formats/sizing.h"
#include "formats/tex.h"
#include "formats/texinfo.h"
#include "toolkit/files.h"
#include "toolkit/numbers.h"

namespace {

int Usage() {
    std::fputs(
        "usage: orvanta_cli open FILE\n"
        "       orvanta_cli convert IN OUT\n"
        "       orvanta_cli dds IN OUT --format dxt1|dxt5|bc5|rgba [--mips]\n"
        "       orvanta_cli resize FILE WIDTH HEIGHT\n"
        "       orvanta_cli batch [--to EXT] OUTFOLDER FILES...\n",
        stderr);
    return 2;
}

// Loads as the editor and the batch do; reports a failure the way the
// program words it.
ImagePtr Load(const std::string& path, TexInfo& info) {
    ImagePtr image = LoadImageAnySource(path, info);
    if (!image) std::fprintf(stderr, "%s could not be loaded:\n%s\n", path.c_str(), info.errorText.c_str());
    return image;
}

int Open(const std::string& path) {
    TexInfo info;
    ImagePtr image = Load(path, info);
    if (!image) return 1;
    std::printf("%s: %d x %d, %s%s\n", path.c_str(), image->width, image->height, info.formatText.c_str(),
                info.kind == 0 && info.hasAlpha == 1 ? ", with transparency" : "");
    FreeTexHdrData(info);
    return 0;
}

int Convert(const std::string& in, const std::string& out) {
    // Save As writes ".tiff" and ".jpeg" like ".tif" and ".jpg", and any
    // other name as PNG.
    const FormatInfo* format = FindFormat(GetLowerExtension(out));
    const std::string ext = format ? format->extension : "png";
    const bool toTexture = format && format->format == ImageFormat::Tex;

    TexInfo info;
    ImagePtr image = Load(in, info);
    if (!image) return 1;
    // The program never writes an engine texture above its size limit
    // without shrinking it first; this tool does not shrink.
    if (toTexture && (info.width > 1024 || info.height > 1024)) {
        std::fprintf(stderr, "%s: larger than 1024 pixels (not allowed for Dravik 1)\n", in.c_str());
        FreeTexHdrData(info);
        return 1;
    }
    const std::string result = SaveImageForBatch(*image, info, out, ext);
    FreeTexHdrData(info);
    if (!result.empty()) {
        std::fprintf(stderr, "%s: %s\n", out.c_str(), result.c_str());
        return 1;
    }
    return 0;
}

int Dds(const std::vector<std::string>& args) {
    // args: IN OUT then options in any order
    if (args.size() < 2) return Usage();
    std::optional<DdsSaveFormat> format;
    bool mips = false;
    static const std::map<std::string, DdsSaveFormat> kFormats = {{"dxt1", DdsSaveFormat::Dxt1},
                                                                  {"dxt5", DdsSaveFormat::Dxt5},
                                                                  {"bc5", DdsSaveFormat::Bc5},
                                                                  {"rgba", DdsSaveFormat::Bgra32}};
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--mips") {
            mips = true;
        } else if (args[i] == "--format" && i + 1 < args.size() && kFormats.count(args[i + 1]) != 0) {
            format = kFormats.at(args[++i]);
        } else {
            return Usage();
        }
    }
    if (!format) return Usage();

    TexInfo info;
    ImagePtr image = Load(args[0], info);
    if (!image) return 1;
    FreeTexHdrData(info);
    if (WriteDdsFile(*image, args[1], *format, mips) != 1) {
        std::fprintf(stderr, "Saving failed:\n%s\n", args[1].c_str());
        return 1;
    }
    return 0;
}

int Resize(const std::string& path, const std::string& widthText, const std::string& heightText) {
    const int64_t width = ParseIntText(widthText), height = ParseIntText(heightText);
    if (width < 1 || height < 1 || width > kMaxTextureSide || height > kMaxTextureSide) return Usage();
    TexInfo info;
    ImagePtr image = Load(path, info);
    if (!image) return 1;
    FreeTexHdrData(info);
    const ImagePtr result = ShrinkImageByHalving(*image, int(width), int(height));
    if (!result) {
        std::fputs("Not enough memory for this operation.\n", stderr);
        return 1;
    }
    std::printf("%d x %d\n", result->width, result->height);
    return 0;
}

// A batch run through the batch's own conversion, as the batch window starts
// it with the output folder set, the force box off and "add a number" chosen
// for same names.
int Batch(const std::string& extension, const std::string& outFolder, const std::vector<std::string>& files) {
    if (!FolderExists(outFolder)) {
        std::fprintf(stderr, "The output folder does not exist:\n%s\n", outFolder.c_str());
        return 1;
    }
    BatchSettings settings;
    settings.extension = extension;
    settings.useSourceFolder = false;
    settings.outputFolder = outFolder.back() == '/' ? outFolder : outFolder + "/";
    settings.sameNames = BatchSameNames::Number;
    bool collisions = false;
    const std::vector<std::string> outputs = PlanBatchOutputs(files, settings, collisions);
    const BatchOutcome outcome = ConvertBatchItems(files, outputs, settings, {});
    std::fputs(ComposeBatchSummary(outcome, settings.extension).c_str(), stdout);
    return outcome.failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Usage();
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "open" && rest.size() == 1) return Open(rest[0]);
    if (command == "convert" && rest.size() == 2) return Convert(rest[0], rest[1]);
    if (command == "dds") return Dds(rest);
    if (command == "resize" && rest.size() == 3) return Resize(rest[0], rest[1], rest[2]);
    if (command == "batch" && rest.size() >= 4 && rest[0] == "--to" && FindFormatByCanonicalExtension(rest[1]))
        return Batch(rest[1], rest[2], {rest.begin() + 3, rest.end()});
    if (command == "batch" && rest.size() >= 2) return Batch("dds", rest[0], {rest.begin() + 1, rest.end()});
    return Usage();
}
