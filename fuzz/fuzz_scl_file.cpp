// Any bytes as an SCL file: reading it, importing it into the device template and saving the
// result must end in a model or a clear error, never a crash. Every member code a model keeps
// must read back as the object it was made from: a code that does not is a fault.
#include "iec61850/icd_parser.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <unistd.h>

namespace {

std::string templatePath() {
    return std::string(KT_SOURCE_DIR) + "/resources/KT-740.icd";
}

void checkMembers(const kt::TICDParser& model) {
    for (int slot = 0; slot < kt::DataSetSlots; ++slot) {
        model.DataSetFullName(slot);
        kt::TDatasetConfig ds = model.GetDataSet(slot);
        for (uint32_t code : ds.Members) {
            auto ref = model.DecodeMember(code);
            if (!ref || model.EncodeMember(*ref) != code) __builtin_trap();
        }
    }
    model.Warnings();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char path[] = "/tmp/kt-fuzz-scl-XXXXXX";
    int fd = ::mkstemp(path);
    if (fd < 0) return 0;
    bool written = ::write(fd, data, size) == static_cast<ssize_t>(size);
    ::close(fd);
    if (written) {
        try {
            kt::TICDParser file(path, -1);
            checkMembers(file);
        } catch (const std::exception&) {
            // a clear error is the right outcome for a broken file
        }
        try {
            kt::TICDParser model(templatePath(), 2);
            model.ImportFile(path);
            checkMembers(model);
            std::string out = std::string(path) + ".icd";
            model.SaveICD(out);
            std::remove(out.c_str());
        } catch (const std::exception&) {
        }
    }
    std::remove(path);
    return 0;
}
