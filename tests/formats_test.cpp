// The format table: every list the program shows, word for word and in its order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/formats.h"

namespace {

std::vector<std::string> Labels(FormatList list) {
    std::vector<std::string> labels;
    for (ImageFormat format : FormatsIn(list)) labels.push_back(FormatLabel(list, format));
    return labels;
}

std::string Extensions(FormatList list) {
    std::string text;
    for (ImageFormat format : FormatsIn(list)) {
        if (!text.empty()) text += ",";
        text += GetFormatInfo(format).extension;
    }
    return text;
}

TEST(FormatsTable, ListsKeepTheirOrderAndTexts) {
    EXPECT_EQ(Extensions(FormatList::SaveAs), "tga,png,pcx,bmp,tif,jpg,dds,tex,hdr");
    EXPECT_EQ(Extensions(FormatList::BatchTarget), "tga,png,pcx,bmp,tif,jpg,dds,tex,hdr");
    EXPECT_EQ(Extensions(FormatList::BatchSource), "tex,tga,png,pcx,bmp,tif,jpg,dds,hdr");
    EXPECT_EQ(Extensions(FormatList::SkyboxExport), "tga,png,tif,hdr,tex");
    EXPECT_EQ(JoinedFormatPatterns(FormatList::Open),
              "*.tex;*.tga;*.png;*.pcx;*.bmp;*.tif;*.tiff;*.jpg;*.jpeg;*.dds;*.hdr");
    EXPECT_EQ(JoinedFormatPatterns(FormatList::Mask), "*.tex;*.tga;*.png;*.pcx;*.bmp;*.tif;*.tiff;*.jpg;*.jpeg;*.dds");
    EXPECT_EQ(JoinedFormatPatterns(FormatList::SkyboxFaces), "*.tex;*.hdr;*.tga;*.png;*.dds");
    EXPECT_EQ(FormatLabel(FormatList::Open, ImageFormat::Tex), "Dravik texture (*.tex)");

    const std::vector<std::string> save = {
        "Truevision Graphics Adapter (*.tga)", "Portable Network Graphics (*.png)", "PiCture eXchange (*.pcx)",
        "Microsoft BMP (*.bmp)", "Tagged Image File Format (*.tif)", "Joint Photographic Experts Group (*.jpg)",
        "DirectDraw Surface (*.dds)", "Dravik 1 texture (*.tex)", "Radiance High Dynamic Range (*.hdr)"};
    EXPECT_EQ(Labels(FormatList::SaveAs), save);
    std::vector<std::string> target = save;
    target[6] = "DirectDraw Surface (*.dds), format chosen automatically";
    target[8] = "Radiance High Dynamic Range (*.hdr), HDR sources only";
    EXPECT_EQ(Labels(FormatList::BatchTarget), target);
    const std::vector<std::string> source = {"Dravik texture (*.tex)", save[0], save[1], save[2], save[3],
                                             save[4], save[5], save[6], save[8]};
    EXPECT_EQ(Labels(FormatList::BatchSource), source);
    const std::vector<std::string> skybox = {save[0], save[1], save[4], "Radiance HDR, keeps brightness (*.hdr)",
                                             save[7]};
    EXPECT_EQ(Labels(FormatList::SkyboxExport), skybox);

    EXPECT_EQ(FormatAt(FormatList::SkyboxExport, 3)->format, ImageFormat::Hdr);
    EXPECT_EQ(FormatAt(FormatList::SkyboxExport, 5), nullptr);
    EXPECT_EQ(FormatAt(FormatList::SaveAs, -1), nullptr);
}

}  // namespace
