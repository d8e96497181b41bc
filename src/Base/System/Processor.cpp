#include "Base/System/Processor.h"

#include <cpuid.h>

#include <cstring>

namespace tvan {

namespace {

ProcessorId classifyIntel(unsigned family, unsigned model, unsigned stepping) {
  switch (family) {
    case 4:
      switch (model) {
        case 0:
        case 1: return kProcessorIntel486DX;
        case 2: return kProcessorIntel486SX;
        case 3: return kProcessorIntel486DX2;
        case 4: return kProcessorIntel486SL;
        case 5: return kProcessorIntel486SX2;
        case 7: return kProcessorIntel486DX2E;
        case 8: return kProcessorIntel486DX4;
        default: return kProcessorUnknown;
      }
    case 5:
      if (model >= 1 && model <= 3) return kProcessorIntelPentium;
      if (model == 4) return kProcessorIntelPentiumMMX;
      return kProcessorUnknown;
    case 6:
      switch (model) {
        case 1: return kProcessorIntelPentiumPRO;
        case 3:
        case 5: return kProcessorIntelPentiumII;
        case 6: return kProcessorIntelCeleron;
        case 7:
        case 8:
        case 10: return kProcessorIntelPentiumIII;
        case 9: return kProcessorIntelPentiumMCentrino;
        case 15: return kProcessorIntelPentium4OrXeon;
        default: return kProcessorUnknown;
      }
    case 15:
      if (model == 1 && stepping == 2) return kProcessorIntelPentium4OrXeon;
      if (model == 2 && (stepping == 4 || stepping == 9)) return kProcessorIntelPentium4OrXeon;
      if (model == 2 && stepping == 7) return kProcessorIntelPentium4M;
      if (model == 4 && stepping == 1) return kProcessorIntelPentium4OrXeon;
      if (model == 4 && stepping == 10) return kProcessorIntelPentium4Other;
      return kProcessorUnknown;
    default:
      return kProcessorUnknown;
  }
}

ProcessorId classifyAmd(unsigned family, unsigned model) {
  switch (family) {
    case 4: return kProcessorAMD486Or586;
    case 5:
      if (model <= 3) return kProcessorAMDK5;
      if (model <= 7) return model >= 6 ? kProcessorAMDK6 : kProcessorUnknown;
      if (model == 8) return kProcessorAMDK62;
      return kProcessorAMDK63;
    case 6: return kProcessorAMDAthlon;
    default: return kProcessorUnknown;
  }
}

}  // namespace

ProcessorId classifyProcessor(const char* vendor, unsigned versionWord) {
  unsigned family = (versionWord >> 8) & 0xF;
  if (family == 15) family += (versionWord >> 20) & 0xFF;
  const unsigned model = (versionWord >> 4) & 0xF;
  const unsigned stepping = versionWord & 0xF;
  // An extended model number only exists on processors newer than every
  // model named here; their low model bits would alias old models.
  const unsigned extendedModel = (versionWord >> 16) & 0xF;
  if (extendedModel != 0) return kProcessorUnknown;
  if (std::strcmp(vendor, "GenuineIntel") == 0) return classifyIntel(family, model, stepping);
  if (std::strcmp(vendor, "AuthenticAMD") == 0) return classifyAmd(family, model);
  return kProcessorUnknown;
}

bool IsCPUIDSupported() { return __get_cpuid_max(0, nullptr) != 0; }

ProcessorId DetectProcessor() {
  if (!IsCPUIDSupported()) return kProcessorUnknown;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(0, &eax, &ebx, &ecx, &edx)) return kProcessorUnknown;
  char vendor[13];
  std::memcpy(vendor, &ebx, 4);
  std::memcpy(vendor + 4, &edx, 4);
  std::memcpy(vendor + 8, &ecx, 4);
  vendor[12] = '\0';
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return kProcessorUnknown;
  return classifyProcessor(vendor, eax);
}

const char* DetectProcessorStr(ProcessorId id) {
  static const char* const kNames[] = {
      "kProcessorUnknown",          "kProcessorIntel486SX",
      "kProcessorIntel486SX2",      "kProcessorIntel486SL",
      "kProcessorIntel486DX",       "kProcessorIntel486DX2",
      "kProcessorIntel486DX2E",     "kProcessorIntel486DX4",
      "kProcessorIntelPentium",     "kProcessorIntelPentiumMMX",
      "kProcessorIntelPentiumPRO",  "kProcessorIntelPentiumII",
      "kProcessorIntelCeleron",     "kProcessorIntelPentiumIII",
      "kProcessorIntelPentium4OrXeon", "kProcessorIntelPentium4M",
      "kProcessorUnknown",          "kProcessorIntelPentiumMCentrino",
      "kProcessorAMD486Or586",      "kProcessorAMDK5",
      "kProcessorAMDK6",            "kProcessorAMDK62",
      "kProcessorAMDK63",           "kProcessorAMDAthlon",
  };
  const int index = static_cast<int>(id);
  if (index < 0 || index >= static_cast<int>(sizeof kNames / sizeof kNames[0])) {
    return "kProcessorUnknown";
  }
  return kNames[index];
}

}  // namespace tvan
