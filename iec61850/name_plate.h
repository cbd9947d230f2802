#pragma once

// The texts a saved ICD file's LPHD name plate gets from the connected unit, found by the labels
// of its register description: the serial number (DB_SERIAL_NUMBER, registers 2..3), the model
// (DB_MODEL_TYPE through its value list, else DB_MODEL_CODE) and the firmware version
// (DB_FIRMWARE_VERSION).

#include "monitor/pass_snapshot.h"

#include <string>

namespace kt {

struct NamePlateTexts {
    std::string model;  // "KT-740HV"; "" when the pass has neither label
    std::string serNum; // "123456"
    std::string swRev;  // "320"
};

NamePlateTexts NamePlateFromPass(const PassSnapshot& pass);

class TICDParser;
// The name plate a save writes: the connected unit's model and serial number (from `pass`, when
// there is one and it has them), else the template's own texts; `swRev`, else the template's.
void SetNamePlate(TICDParser& parser, const PassSnapshot* pass, const std::string& swRev);

} // namespace kt
