// One entry of the user pattern file list.
#include "sztpatternfile.h"

#include <QFileInfo>

#include "zt/zt_picbuf.h"

SZtPatternFile::SZtPatternFile(const CZtStringW& name, const CZtStringW& path, std::int32_t mapping)
    : name(name), filePath(path), mapping(mapping) {
    const QFileInfo file(QString::fromStdWString(path.Str()));
    baseName = CZtStringW(file.completeBaseName().toStdWString());
    suffix = CZtStringW(file.suffix().toStdWString());
}

void SZtPatternFile::ReadPictureInfo() {
    SZtPicBuf picture;
    if (ZT_LoadPictureFromFile(filePath.GetString(), &picture) == 0) {
        bitDepth = static_cast<std::int32_t>(picture.bitsPerComponent * picture.components);
        width = static_cast<std::int32_t>(picture.width);
        height = static_cast<std::int32_t>(picture.height);
    }
    infoRead = true;
}
