// XML parse throughput of this library side by side with pugixml and
// tinyxml2 on one generated job-data document (about 10 MB), plus a
// configuration-sized document parsed many times and a two-step path search
// over 10,000 children. Prints the throughput ratios after the table.
#include <benchmark/benchmark.h>
#include <pugixml.hpp>
#include <tinyxml2.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "Base/XML/XMLParser.h"

namespace {

// Job-data shaped document: nested elements, attributes, text and entity
// references, about `targetBytes` long.
std::string jobDocument(size_t targetBytes) {
  std::mt19937 random(7);
  std::string out = "<?xml version='1.0' encoding='iso-8859-1' ?><Jobs>";
  for (int job = 0; out.size() < targetBytes; ++job) {
    const std::string id = std::to_string(job);
    out += "<Job id=\"" + id + "\" name=\"AUTODEL_" + id + "\" kind=\"delete\">";
    out += "<ServiceID>KEF|AUTODELETE|" + std::to_string(1700000000 + job) + ".123</ServiceID>";
    out += "<ClientID>client-" + std::to_string(random() % 1000) + "</ClientID>";
    out += "<ServiceStatus code=\"0\">RUNNING</ServiceStatus>";
    out += "<!-- deletion parameters -->";
    out += "<Params>";
    for (int p = 0; p < 4; ++p) {
      out += "<Param name=\"age" + std::to_string(p) + "\" value=\"" + std::to_string(random() % 90) + "\"/>";
    }
    out += "</Params><Paths>";
    for (int p = 0; p < 3; ++p) {
      out += "<Path recursive=\"yes\" mask=\"*.log\">/data/spool/job_" + id + "/dir &amp; files &lt;" +
             std::to_string(p) + "&gt;</Path>";
    }
    out += "</Paths><Message>Deleted &quot;" + std::to_string(random() % 500) +
           "&quot; files older than 30 days &apos;ok&apos;</Message></Job>";
  }
  return out + "</Jobs>";
}

std::string configDocument() {
  std::string out = "<?xml version='1.0' encoding='iso-8859-1' ?><KEFPrefs>";
  out += "<Log><LevelMask>0x1f</LevelMask><LocationMask>0x1</LocationMask><FileName>/var/log/kef/kef.log</FileName>"
         "<FileSize>1048576</FileSize><Interval>60</Interval><Mutex>LogObject</Mutex></Log>";
  for (int i = 0; i < 20; ++i) {
    const std::string n = std::to_string(i);
    out += "<Service name=\"SERVICE_" + n + "\"><ENABLED>1</ENABLED><timeOut>20</timeOut><Library>libtq_" + n +
           ".so</Library><StatFile>/var/lib/kef/stat_" + n + ".xml</StatFile></Service>";
  }
  return out + "</KEFPrefs>";
}

const std::string& largeDocument() {
  static const std::string text = jobDocument(10 * 1024 * 1024);
  return text;
}

void BM_Parse_Tvan(benchmark::State& state) {
  const std::string& text = largeDocument();
  for (auto _ : state) {
    XMLParser parser;
    if (!parser.parseString(text.c_str())) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(parser.getRoot());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_Parse_Pugixml(benchmark::State& state) {
  const std::string& text = largeDocument();
  for (auto _ : state) {
    pugi::xml_document document;
    if (!document.load_buffer(text.data(), text.size())) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(document.first_child());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_Parse_Tinyxml2(benchmark::State& state) {
  const std::string& text = largeDocument();
  for (auto _ : state) {
    tinyxml2::XMLDocument document;
    if (document.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(document.RootElement());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_ParseConfig_Tvan(benchmark::State& state) {
  const std::string text = configDocument();
  for (auto _ : state) {
    XMLParser parser;
    parser.parseString(text.c_str());
    benchmark::DoNotOptimize(parser.getRoot());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["bytes"] = static_cast<double>(text.size());
}

void BM_FindNodes_TwoSteps_10000Children(benchmark::State& state) {
  XMLParser parser;
  parser.createXML("Root");
  for (int i = 0; i < 10000; ++i) {
    parser.getRoot()->addChild(new XMLNode(i % 2 ? "Item" : "Other", std::to_string(i)), -1);
  }
  std::vector<XMLNode*> found;
  for (auto _ : state) {
    found.clear();
    parser.getRoot()->findNodes("Root/Item", found, true);
    benchmark::DoNotOptimize(found.data());
  }
  if (found.size() != 5000) state.SkipWithError("unexpected match count");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * found.size()));
}

BENCHMARK(BM_Parse_Tvan)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Parse_Pugixml)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Parse_Tinyxml2)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ParseConfig_Tvan)->Unit(benchmark::kMicrosecond)->Iterations(100000);
BENCHMARK(BM_FindNodes_TwoSteps_10000Children)->Unit(benchmark::kMicrosecond);

// Console output as usual, and the parse throughputs kept for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto rate = run.counters.find("bytes_per_second");
      if (rate != run.counters.end()) rates_[run.benchmark_name()] = rate->second;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void printRatios() const {
    const double ours = rate("BM_Parse_Tvan");
    const double pugi = rate("BM_Parse_Pugixml");
    const double tiny = rate("BM_Parse_Tinyxml2");
    if (ours <= 0 || pugi <= 0 || tiny <= 0) return;
    std::printf("\nparse MB/s: tvan %.1f, pugixml %.1f, tinyxml2 %.1f\n", ours / 1e6, pugi / 1e6, tiny / 1e6);
    std::printf("tvan/pugixml %.2f (goal >= 0.40), tvan/tinyxml2 %.2f (goal >= 1.00)\n", ours / pugi, ours / tiny);
  }

 private:
  // The rate of the first run whose name starts with `prefix`.
  double rate(const std::string& prefix) const {
    auto found = rates_.lower_bound(prefix);
    if (found == rates_.end() || found->first.compare(0, prefix.size(), prefix) != 0) return 0;
    return found->second;
  }
  std::map<std::string, double> rates_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios();
  benchmark::Shutdown();
  return 0;
}
