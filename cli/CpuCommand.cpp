// kyvex cpu, and the processors of the full report.
#include <iostream>
#include <memory>
#include <optional>

#include "cli/Commands.h"
#include "platform/CpuidSnapshot.h"
#include "report/CpuReport.h"

namespace kyvex::cli {

using namespace report;
using Json = nlohmann::ordered_json;

namespace {

struct CpuOptions {
  bool json = false;
  bool all = false;
  int index = -1;
  std::string dumpFile;
  int frequency = 0;
};

// Far beyond any real dump; reading stops here, so that a wrong file is not read whole.
constexpr std::size_t kMaxDumpFile = 64u << 20;

int RunCpu(const CpuOptions& o) {
  // A recorded dump stands in for this machine's processors, with the clock given (none
  // without one); nothing of this machine's processors is read.
  std::shared_ptr<TProcessorCensus> census;
  if (!o.dumpFile.empty()) {
    std::string content, error;
    if (!ReadInputFile(o.dumpFile, kMaxDumpFile + 1, content, error)) {
      std::cerr << "kyvex cpu: " << o.dumpFile << ": " << error << "\n";
      return 1;
    }
    auto snapshot = platform::ParseCpuidDump(content, error);
    if (!snapshot) {
      std::cerr << "kyvex cpu: " << o.dumpFile << ": " << error << "\n";
      return 1;
    }
    census = std::make_shared<TProcessorCensus>(
        CensusFromRecording(std::move(*snapshot), static_cast<std::uint32_t>(o.frequency)));
  } else {
    census = std::make_shared<TProcessorCensus>(ReadProcessorCensus());
  }

  const auto count = static_cast<long long>(census->Processors.size());
  if (o.index >= count) {
    std::cerr << "kyvex cpu: --index " << o.index << ": "
              << (census->Recorded ? "the dump holds " : "this machine has ") << count << " logical processor"
              << (count == 1 ? "" : "s") << " (0 to " << count - 1 << ")\n";
    return 1;
  }
  // Only the clocks shown are measured.
  if (o.all)
    MeasureClocks(*census);
  else
    MeasureClocks(*census, static_cast<std::uint32_t>(o.index < 0 ? 0 : o.index));

  TKyvex_CPU cpu;
  if (o.all) {
    // Each processor is written as soon as it is formatted: hundreds of them are never held
    // as one document.
    cpu.UseProcessorCensus(census);
    auto collect = [&](std::size_t i) -> const TKyvex_CPU& {
      cpu.SetCPUIndex(static_cast<std::uint32_t>(i));
      cpu.CollectData();
      return cpu;
    };
    if (o.json) {
      report::WriteNestedJsonArray(std::cout, static_cast<std::size_t>(count), 0,
                                   [&](std::size_t i) { return CpuJson(collect(i)); });
      std::cout << "\n";
    } else {
      for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i)
        std::cout << (i == 0 ? "" : "\n") << FormatSections(CpuSections(collect(i)));
    }
    return 0;
  }
  cpu.UseProcessorCensus(census);
  cpu.SetCPUIndex(static_cast<std::uint32_t>(o.index < 0 ? 0 : o.index));
  cpu.CollectData();
  if (o.json)
    std::cout << report::JsonText(CpuJson(cpu)) << "\n";
  else
    std::cout << FormatSections(CpuSections(cpu));
  return 0;
}

}  // namespace

int RunCpuCommand(bool json, const std::string& dumpFile) {
  CpuOptions options;
  options.json = json;
  options.dumpFile = dumpFile;
  return RunCpu(options);
}

CLI::App* AddCpuCommand(CLI::App& app, std::function<int()>* run) {
  auto options = std::make_shared<CpuOptions>();
  auto* cmd = app.add_subcommand(
      "cpu",
      "Identify a processor through CPUID: vendor, family, model and stepping, brand string,\n"
      "product, core and process names, caches, feature flags and the measured clock.\n"
      "Describes logical processor 0 of this machine unless told otherwise; with --cpuid-dump,\n"
      "a processor recorded on another machine.");
  if (!run) return cmd;
  cmd->add_flag("--json", options->json, "Print JSON instead of text");
  auto* index = cmd->add_option("--index", options->index, "Describe logical processor N (0-based; default 0)")
                    ->option_text("N")
                    ->check(CLI::Range(0, 8191));
  cmd->add_flag("--all", options->all, "Describe every logical processor (JSON: an array)")->excludes(index);
  auto* dump = cmd->add_option("--cpuid-dump", options->dumpFile,
                               "Decode FILE, the raw output of the `cpuid` tool (`cpuid -r -1` for one processor,\n"
                               "`cpuid -r` for all of them), instead of this machine's processors")
                   ->option_text("FILE");
  cmd->add_option("--frequency", options->frequency,
                  "With --cpuid-dump: the clock in MHz, which a dump does not record (without it the\n"
                  "clock reads 0); a processor without a time-stamp counter stays at 0")
      ->option_text("MHZ")
      ->check(CLI::Range(1, 1000000))
      ->needs(dump);
  *run = [options] { return RunCpu(*options); };
  return cmd;
}


}  // namespace kyvex::cli
