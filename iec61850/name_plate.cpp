#include "iec61850/name_plate.h"

#include "iec61850/icd_parser.h"
#include "monitor/status_decoding.h"

#include <memory>
#include <string_view>

namespace kt {

namespace {

// The first polled register carrying `label` (a two-register value is labelled on both words;
// its second word is not polled on its own).
int registerLabelled(const PassSnapshot& pass, std::string_view label) {
    if (!pass.tables) return -1;
    for (int r = 0; r < RegisterTableSize; ++r) {
        const RegisterDescriptor& d = pass.tables->RegisterTable[static_cast<size_t>(r)];
        if (d.type > 0 && d.label == label) return r;
    }
    return -1;
}

// A value the pass could not read or decode is no name plate text.
std::string usable(std::string_view text) {
    if (text.empty() || text == "--" || text == "-" || text == "-----") return {};
    return std::string(text);
}

} // namespace

NamePlateTexts NamePlateFromPass(const PassSnapshot& pass) {
    NamePlateTexts t;
    if (int r = registerLabelled(pass, "DB_SERIAL_NUMBER"); r >= 0) t.serNum = usable(passValueText(pass, r));
    if (int r = registerLabelled(pass, "DB_FIRMWARE_VERSION"); r >= 0)
        t.swRev = usable(passValueText(pass, r));
    if (int r = registerLabelled(pass, "DB_MODEL_TYPE"); r >= 0) {
        const std::string raw = usable(passValueText(pass, r));
        if (!raw.empty()) {
            auto texts = std::make_unique<RegisterTexts>();
            passValueTexts(pass, *texts);
            TranslationContext context{pass.tables->dataset, *texts};
            const std::string translated = usable(TranslateValue(
                context, r, pass.tables->RegisterTable[static_cast<size_t>(r)].translationType, raw));
            // A model type without a row in the value list says nothing about the model.
            if (translated != raw) t.model = translated;
        }
    }
    if (t.model.empty())
        if (int r = registerLabelled(pass, "DB_MODEL_CODE"); r >= 0) t.model = usable(passValueText(pass, r));
    return t;
}

void SetNamePlate(TICDParser& p, const PassSnapshot* pass, const std::string& swRev) {
    p.Model = p.PhyNamValue("model");
    p.SerNum = p.PhyNamValue("serNum");
    p.SwRev = swRev.empty() ? p.PhyNamValue("swRev") : swRev;
    if (!pass) return;
    NamePlateTexts plate = NamePlateFromPass(*pass);
    if (!plate.model.empty()) p.Model = plate.model;
    if (!plate.serNum.empty()) p.SerNum = plate.serNum;
}

} // namespace kt
