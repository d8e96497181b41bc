#pragma once
// Processor model detection from the identification instruction. Processors
// newer than the models below (including every processor with an extended
// model number) report kProcessorUnknown.
namespace tvan {

enum ProcessorId {
  kProcessorUnknown = 0,
  kProcessorIntel486SX = 1,
  kProcessorIntel486SX2 = 2,
  kProcessorIntel486SL = 3,
  kProcessorIntel486DX = 4,
  kProcessorIntel486DX2 = 5,
  kProcessorIntel486DX2E = 6,
  kProcessorIntel486DX4 = 7,
  kProcessorIntelPentium = 8,
  kProcessorIntelPentiumMMX = 9,
  kProcessorIntelPentiumPRO = 10,
  kProcessorIntelPentiumII = 11,
  kProcessorIntelCeleron = 12,
  kProcessorIntelPentiumIII = 13,
  kProcessorIntelPentium4OrXeon = 14,
  kProcessorIntelPentium4M = 15,
  kProcessorIntelPentium4Other = 16,  // has no text of its own
  kProcessorIntelPentiumMCentrino = 17,
  kProcessorAMD486Or586 = 18,
  kProcessorAMDK5 = 19,
  kProcessorAMDK6 = 20,
  kProcessorAMDK62 = 21,
  kProcessorAMDK63 = 22,
  kProcessorAMDAthlon = 23,
};

// True when the identification instruction can be executed.
bool IsCPUIDSupported();
// The model of the processor this runs on.
ProcessorId DetectProcessor();
// The enumerator's name, "kProcessorUnknown" for 16 and for unknown values.
const char* DetectProcessorStr(ProcessorId id);
// The model for a vendor text ("GenuineIntel", "AuthenticAMD", ...) and the
// version word (leaf 1, EAX) of the identification instruction.
ProcessorId classifyProcessor(const char* vendor, unsigned versionWord);

}  // namespace tvan
