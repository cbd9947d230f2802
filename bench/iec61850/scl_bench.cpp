// Reading a large station file and turning dataset members into member codes and back.
//   bench_iec61850 --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
// Goals: the large file read in under 1 s; 10 000 codes encoded and decoded in under 50 ms.
#include "iec61850/icd_parser.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using namespace kt;

constexpr int Ieds = 50;
constexpr int DevicesPerIed = 2;
constexpr int NodesPerDevice = 24;
constexpr int DataSetsPerDevice = 8;
constexpr int MembersPerDataSet = 30;

// A station file as large tools write them: 50 IEDs of 48 nodes each, 800 datasets of 30
// members, a GOOSE control per device, instance values in every node, types four levels deep.
std::string generateSCD() {
    std::ostringstream x;
    x << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SCL xmlns=\"http://www.iec.ch/61850/2003/SCL\" "
         "version=\"2007\" revision=\"B\" release=\"4\">\n<Header id=\"bench\"/>\n<Communication>"
         "<SubNetwork name=\"W1\">\n";
    for (int i = 0; i < Ieds; ++i) {
        x << "<ConnectedAP iedName=\"IED" << i << "\" apName=\"P1\"><Address><P type=\"IP\">10.0." << i / 200
          << "." << i % 200 + 1 << "</P><P type=\"IP-SUBNET\">255.255.0.0</P></Address>";
        for (int d = 0; d < DevicesPerIed; ++d)
            x << "<GSE ldInst=\"LD" << d << "\" cbName=\"gcb" << d
              << "\"><Address><P type=\"MAC-Address\">01-0C-CD-01-" << (i >> 4 & 0xF) << (i & 0xF) << "-0"
              << d << "</P><P type=\"APPID\">" << (1000 + i * 2 + d) << "</P></Address></GSE>";
        x << "</ConnectedAP>\n";
    }
    x << "</SubNetwork></Communication>\n";
    const char* classes[] = {"MMXU", "MMXN", "GGIO", "PTOC", "PTOV", "PTRC"};
    for (int i = 0; i < Ieds; ++i) {
        x << "<IED name=\"IED" << i << "\" type=\"Bay\"><Services><DynDataSet max=\"24\"/></Services>"
          << "<AccessPoint name=\"P1\"><Server><Authentication/>\n";
        for (int d = 0; d < DevicesPerIed; ++d) {
            x << "<LDevice inst=\"LD" << d << "\"><LN0 lnClass=\"LLN0\" inst=\"\" lnType=\"LLN0_T\">\n";
            for (int s = 0; s < DataSetsPerDevice; ++s) {
                x << "<DataSet name=\"DS" << s << "\">";
                for (int m = 0; m < MembersPerDataSet; ++m) {
                    int n = 1 + (s * 7 + m) % NodesPerDevice;
                    const char* cls = classes[n % 6];
                    if (n % 6 == 0 || n % 6 == 1)
                        x << "<FCDA ldInst=\"LD" << d << "\" lnClass=\"" << cls << "\" lnInst=\"" << n
                          << "\" doName=\"PhV." << (m % 2 ? "phsB" : "neut")
                          << "\" daName=\"cVal.mag.f\" fc=\"MX\"/>";
                    else
                        x << "<FCDA ldInst=\"LD" << d << "\" lnClass=\"" << cls << "\" lnInst=\"" << n
                          << "\" doName=\"Ind" << 1 + m % 8 << "\" daName=\"stVal\" fc=\"ST\"/>";
                }
                x << "</DataSet>\n";
            }
            x << "<ReportControl name=\"rcb" << d
              << "\" datSet=\"DS0\" confRev=\"1\" buffered=\"true\">"
                 "<TrgOps dchg=\"true\"/><OptFields seqNum=\"true\"/></ReportControl>"
              << "<GSEControl name=\"gcb" << d << "\" datSet=\"DS1\" confRev=\"1\" appID=\"IED" << i << "G"
              << d << "\"/></LN0>\n";
            for (int n = 1; n <= NodesPerDevice; ++n)
                x << "<LN lnClass=\"" << classes[n % 6] << "\" inst=\"" << n << "\" lnType=\""
                  << classes[n % 6] << "_T\"><DOI name=\"Ind1\"><DAI name=\"d\"><Val>Input " << n
                  << " of the bay</Val></DAI></DOI><DOI name=\"PhV\"><SDI name=\"neut\"><SDI name=\"units\">"
                     "<DAI name=\"SIUnit\"><Val>29</Val></DAI></SDI></SDI></DOI></LN>\n";
            x << "</LDevice>\n";
        }
        x << "</Server></AccessPoint></IED>\n";
    }
    x << "<DataTypeTemplates><LNodeType id=\"LLN0_T\" lnClass=\"LLN0\"><DO name=\"Beh\" "
         "type=\"ENS\"/></LNodeType>";
    for (const char* cls : classes) {
        x << "<LNodeType id=\"" << cls << "_T\" lnClass=\"" << cls << "\"><DO name=\"Beh\" type=\"ENS\"/>"
          << "<DO name=\"PhV\" type=\"WYE\"/><DO name=\"A\" type=\"WYE\"/>";
        for (int k = 1; k <= 8; ++k) x << "<DO name=\"Ind" << k << "\" type=\"SPS\"/>";
        x << "</LNodeType>";
    }
    x << "<DOType id=\"ENS\" cdc=\"ENS\"><DA name=\"stVal\" fc=\"ST\" bType=\"INT32\"/><DA name=\"q\" "
         "fc=\"ST\" "
         "bType=\"Quality\"/></DOType>"
         "<DOType id=\"SPS\" cdc=\"SPS\"><DA name=\"stVal\" fc=\"ST\" bType=\"BOOLEAN\"/><DA name=\"q\" "
         "fc=\"ST\" "
         "bType=\"Quality\"/><DA name=\"t\" fc=\"ST\" bType=\"Timestamp\"/><DA name=\"d\" fc=\"DC\" "
         "bType=\"VisString255\"/></DOType>"
         "<DOType id=\"WYE\" cdc=\"WYE\"><SDO name=\"phsA\" type=\"CMV\"/><SDO name=\"phsB\" type=\"CMV\"/>"
         "<SDO name=\"phsC\" type=\"CMV\"/><SDO name=\"neut\" type=\"CMV\"/><DA name=\"d\" fc=\"DC\" "
         "bType=\"VisString255\"/></DOType>"
         "<DOType id=\"CMV\" cdc=\"CMV\"><DA name=\"cVal\" fc=\"MX\" bType=\"Struct\" type=\"Vector\"/>"
         "<DA name=\"q\" fc=\"MX\" bType=\"Quality\"/><DA name=\"t\" fc=\"MX\" bType=\"Timestamp\"/>"
         "<DA name=\"units\" fc=\"CF\" bType=\"Struct\" type=\"Unit\"/></DOType>"
         "<DAType id=\"AV\"><BDA name=\"f\" bType=\"FLOAT32\"/><BDA name=\"i\" bType=\"INT32\"/></DAType>"
         "<DAType id=\"Vector\"><BDA name=\"mag\" bType=\"Struct\" type=\"AV\"/><BDA name=\"ang\" "
         "bType=\"Struct\" "
         "type=\"AV\"/></DAType><DAType id=\"Unit\"><BDA name=\"SIUnit\" bType=\"INT8\"/></DAType>"
         "</DataTypeTemplates>\n</SCL>\n";
    return x.str();
}

const std::string& scdFile() {
    static const std::string file = [] {
        auto path = std::filesystem::temp_directory_path() / "kt_bench_station.scd";
        std::ofstream(path, std::ios::binary) << generateSCD();
        return path.string();
    }();
    return file;
}

void BM_ReadLargeSCD(benchmark::State& state) {
    const std::string& file = scdFile();
    int dataSets = 0, extRefs = 0;
    for (auto _ : state) {
        TICDParser p(file, -1);
        extRefs = p.ExtRefCount();
        dataSets = 0;
        for (int i = 0; i < DataSetSlots; ++i) dataSets += p.GetDataSet(i).Count > 0;
        benchmark::DoNotOptimize(p.GetDataSet(0).Members.data());
    }
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(file)) / 1e6;
    state.counters["datasets"] = dataSets;
    state.counters["extrefs"] = extRefs;
}
BENCHMARK(BM_ReadLargeSCD)->Unit(benchmark::kMillisecond);

// Every MX and ST member reference the template offers.
std::vector<MemberRef> templateMembers(const TICDParser& p) {
    std::vector<MemberRef> refs;
    AttributeTree tree = p.BuildAttributeTree("");
    for (const AttributeNode& ld : tree.root.children)
        for (const AttributeNode& ln : ld.children)
            for (const AttributeNode& d : ln.children)
                for (const AttributeNode& a : d.children) {
                    std::string fc = a.element.attribute("fc").value();
                    if (a.kind == AttributeKind::DataAttribute && (fc == "MX" || fc == "ST"))
                        refs.push_back(
                            {ld.caption, ln.caption, d.caption, a.element.attribute("name").value(), fc});
                }
    return refs;
}

void encodeDecode(benchmark::State& state, bool index) {
    TICDParser p(std::string(KT_SOURCE_DIR) + "/resources/KT-740.icd", -1);
    p.SetTypeIndexEnabled(index);
    std::vector<MemberRef> refs = templateMembers(p);
    for (auto _ : state) {
        for (int i = 0; i < 10000; ++i) {
            uint32_t code = p.EncodeMember(refs[i % refs.size()]).value_or(0);
            auto back = p.DecodeMember(code);
            benchmark::DoNotOptimize(back);
        }
    }
    state.counters["distinct_members"] = static_cast<double>(refs.size());
}

void BM_EncodeDecode10000(benchmark::State& state) {
    encodeDecode(state, true);
}
void BM_EncodeDecode10000_PlainWalk(benchmark::State& state) {
    encodeDecode(state, false);
}
BENCHMARK(BM_EncodeDecode10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeDecode10000_PlainWalk)->Unit(benchmark::kMillisecond);

// The member-code validity check as the reader and the views run it on a large station: every
// FCDA of the model IED encoded (a code only when it fits, is unshared and reads back) and every
// code shown (decoded and encoded again).
void BM_CheckMembersOfLargeStation(benchmark::State& state) {
    TICDParser p(scdFile(), -1);
    std::vector<MemberRef> refs;
    pugi::xml_node ied = p.Document().document_element().find_child_by_attribute("IED", "name", "IED0");
    for (pugi::xpath_node n : ied.select_nodes(".//FCDA")) {
        pugi::xml_node f = n.node();
        refs.push_back({f.attribute("ldInst").value(),
                        std::string(f.attribute("prefix").value()) + f.attribute("lnClass").value() +
                            f.attribute("lnInst").value(),
                        f.attribute("doName").value(), f.attribute("daName").value(),
                        f.attribute("fc").value()});
    }
    size_t valid = 0;
    for (auto _ : state) {
        valid = 0;
        for (const MemberRef& ref : refs) {
            MemberEncoding e = p.EncodeMemberChecked(ref);
            if (!e.code) continue;
            ++valid;
            benchmark::DoNotOptimize(p.MemberText(*e.code));
        }
    }
    state.counters["members"] = static_cast<double>(refs.size());
    state.counters["valid"] = static_cast<double>(valid);
    state.counters["per_member_us"] =
        benchmark::Counter(static_cast<double>(refs.size()),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CheckMembersOfLargeStation)->Unit(benchmark::kMillisecond);

} // namespace
