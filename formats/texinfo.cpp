#include "formats/texinfo.h"

void ClearTexInfo(TexInfo& info) { info = TexInfo(); }

void FreeTexHdrData(TexInfo& info) { info.hdrData.reset(); }
