// regfile: load a register description file as the program does and report it.
#include "cli/cli.h"
#include "cli/json.h"
#include "monitor/device_rules.h"
#include "monitor/register_tables.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

namespace kt::cli {

namespace {

// The program shows the loader's messages in boxes; here they go to stderr on one line each. The
// generic "no files" text is left out: the precise reason follows as the command's error.
struct CliMessageSink : MessageSink {
    void showMessage(const std::string& text, const std::string& title) override {
        if (text == NoRegisterFileText) return;
        std::string line = text;
        while (!line.empty() && line.back() == '\n') line.pop_back();
        for (char& c : line)
            if (c == '\n') c = ' ';
        std::cerr << "ktmon740-cli regfile: " << printable(title) << ": " << printable(line) << '\n';
    }
};

bool groupIsSet(const RegisterGroup& g) {
    return !g.main.empty() || !g.title.empty() || !g.nameIndex.empty();
}
bool descriptorIsSet(const RegisterDescriptor& d) {
    return !d.label.empty() || d.type != 0;
}

void printJson(const RegisterTables& t) {
    JsonWriter j(std::cout);
    j.beginObject();
    j.field("file", t.dataset.fileName());
    j.field("firmwareVersion", t.firmwareVersion);
    j.field("pollCount", t.pollCount);
    j.field("lastGroupIndex", t.lastGroupIndex);
    j.key("groups").beginArray();
    for (int g = 0; g <= t.lastGroupIndex; ++g) {
        const RegisterGroup& group = t.RegisterGroups[g];
        if (!groupIsSet(group)) continue;
        j.beginObject()
            .field("order", g)
            .field("main", group.main)
            .field("title", group.title)
            .field("nameIndex", group.nameIndex)
            .field("display", group.display)
            .endObject();
    }
    j.endArray();
    j.key("eventRegisters").beginArray();
    for (int32_t r : t.EventRegisters) j.value(r);
    j.endArray();
    j.key("descriptors").beginObject();
    for (int r = 0; r < RegisterTableSize; ++r) {
        const RegisterDescriptor& d = t.RegisterTable[r];
        if (!descriptorIsSet(d)) continue;
        j.key(std::to_string(r))
            .beginObject()
            .field("label", d.label)
            .field("type", d.type)
            .field("translationType", d.translationType)
            .field("warning", d.warning)
            .field("access", d.access)
            .endObject();
    }
    j.endObject();
    j.field("skippedRows", t.skippedRows.size());
    j.key("skipped").beginArray();
    for (const SkippedRow& s : t.skippedRows)
        j.beginObject().field("row", s.row + 1).field("reason", s.reason).endObject();
    j.endArray();
    j.endObject();
    std::cout << '\n';
}

// Texts from the file (and its name) go through printable(): a file must not drive the terminal.
void printSummary(const RegisterTables& t) {
    auto text = [](const std::string& s) { return printable(s); };
    std::printf("%s: %zu rows, %zu columns\n", text(t.dataset.fileName()).c_str(), t.dataset.rowCount(),
                t.dataset.columns().size());
    if (t.firmwareVersion)
        std::printf("firmware version %d.%02d\n", t.firmwareVersion / 100, t.firmwareVersion % 100);
    std::printf("poll count %d\n", t.pollCount);
    std::printf("groups (last index %d):\n", t.lastGroupIndex);
    for (int g = 0; g <= t.lastGroupIndex; ++g) {
        const RegisterGroup& group = t.RegisterGroups[g];
        if (!groupIsSet(group)) continue;
        std::printf("  %2d  %-24s %-34s %-18s %s\n", g, text(group.main).c_str(),
                    ("\"" + text(group.title) + "\"").c_str(), text(group.nameIndex).c_str(),
                    group.display ? "shown" : "hidden");
    }
    std::printf("event registers:");
    for (int32_t r : t.EventRegisters) std::printf(" %d", r);
    std::printf("%s\n", t.EventRegisters.empty() ? " none" : "");
    std::printf("described registers:\n  reg  type  access  %-26s translation\n", "label");
    for (int r = 0; r < RegisterTableSize; ++r) {
        const RegisterDescriptor& d = t.RegisterTable[r];
        if (!descriptorIsSet(d)) continue;
        std::printf("  %3d  %4d  %6d  %-26s %s%s\n", r, d.type, d.access, text(d.label).c_str(),
                    text(d.translationType).c_str(),
                    d.warning.empty() || d.warning == "0" ? "" : "  (help text)");
    }
    if (t.skippedRows.empty()) {
        std::printf("skipped rows: none\n");
    } else {
        std::printf("skipped rows: %zu\n", t.skippedRows.size());
        for (const SkippedRow& s : t.skippedRows)
            std::printf("  ROW %u: %s\n", s.row + 1, text(s.reason).c_str());
    }
}

int regfile(std::span<const std::string> words) {
    Args args(words, {"--firmware", "--model-type", "--resources"}, {"--json"});
    auto tables = std::make_unique<RegisterTables>();
    std::string failure;
    bool ok;
    if (auto firmware = args.value("--firmware")) {
        // As at identification: the version names the file, older files stand in for missing ones.
        args.expectPositional(0);
        long version = registerFileVersion(parseInteger(*firmware, 0, 0xFFFF, "--firmware"));
        long model = args.integer("--model-type", 0, 0, 65535);
        CliMessageSink sink;
        RegisterLoadOptions options;
        options.tables = tables.get();
        options.resourcesFolder = resourcesFolder(args);
        options.messages = &sink;
        options.failure = &failure;
        ok = loadRegisterTables(std::to_string(version), std::to_string(model), options);
    } else {
        args.expectPositional(1);
        if (args.value("--model-type")) throw UsageError("--model-type goes with --firmware");
        // A bare file name that is not in the current folder is looked up among the resources.
        std::filesystem::path file = args.positional()[0];
        std::error_code ec;
        if (!std::filesystem::exists(file, ec) && !file.has_parent_path())
            file = std::filesystem::path(resourcesFolder(args)) / file;
        ok = loadRegisterFile(file.string(), *tables, &failure);
    }
    if (!ok) throw std::runtime_error(failure);
    if (args.flag("--json"))
        printJson(*tables);
    else
        printSummary(*tables);
    return ExitOk;
}

constexpr Command commands[] = {
    {"regfile", "FILE | --firmware VERSION [--model-type N]  [--resources DIR] [--json]", regfile},
};

} // namespace

std::span<const Command> regfileCommands() {
    return commands;
}

} // namespace kt::cli
