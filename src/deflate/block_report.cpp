#include "deflate/block_report.h"

#include <cstdio>

#include "deflate/block_cost.h"
#include "support/number_text.h"

namespace trimbit {

void ReportBlock(const Reporter& reporter, const BlockStatistics& b) {
  char typeName[64];
  if (b.btype == 0) {
    std::snprintf(typeName, sizeof typeName, "Stored");
  } else if (b.btype == 1) {
    std::snprintf(typeName, sizeof typeName, "Fixed trees");
  } else {
    std::snprintf(typeName, sizeof typeName, "Dynamic trees; L-codes: %u; D-codes: %u",
                  b.litLenCodeCount, b.distCodeCount);
  }
  Report(reporter, kReportVerbose, ReportKind::Detail,
         "\n  Block      :%14s\n  Blocktype  :%14u  (%s)\n  Offset     :%14s\n"
         "  Size (unc) :%14s bytes\n  Size (unc) :%14s bits\n"
         "  Bits (com) :%14s  (%0.2f bits/bit)\n",
         FormatNumber(b.blockNumber).c_str(), b.btype, typeName,
         FormatNumber(b.blockOffset).c_str(), FormatNumber(b.blockBytes).c_str(),
         FormatNumber(8 * b.blockBytes).c_str(), FormatNumber(b.blockBitsRead).c_str(),
         static_cast<double>(8 * b.blockBytes) / static_cast<double>(b.blockBitsRead));

  if (b.btype == 2) {
    const uint32_t codeLengthBits = 3 * b.clCodeCount;
    const uint32_t headerRead = b.sequenceBitsRead + codeLengthBits + 17;
    Report(reporter, kReportVerbose, ReportKind::Detail,
           "    %u C-codes (%u bits); %u bits for trees; %u bits total (%0.3f bytes)\n"
           "  Bits (new) :%14s\n"
           "    %u C-codes (%u bits); %u bits for trees; %u bits total (%0.3f bytes)\n"
           "  Bits fixed :%14s\n",
           b.clCodeCount, codeLengthBits, b.sequenceBitsRead, headerRead, headerRead / 8.0,
           FormatNumber(b.blockBits).c_str(), b.clCodeCount, codeLengthBits,
           b.headerBitsWritten - codeLengthBits - 17, b.headerBitsWritten,
           b.headerBitsWritten / 8.0, FormatNumber(b.fixedCost).c_str());
  }

  Report(reporter, kReportVerbose, ReportKind::Detail, "  Bits stored:%14s\n",
         FormatNumber(StoredBlockBits(b.blockBytes, b.blockStart)).c_str());

  if (b.btype == 2) {
    for (uint32_t i = 0; i < b.litLenCodeCount; ++i)
      if (b.codeLengths[i] != 0 && b.litLenCounts[i] == 0)
        Report(reporter, kReportVerbose, ReportKind::Detail,
               "      L-code defined but unused: %3u\n", i);
    for (uint32_t j = 0; j < b.distCodeCount; ++j)
      if (b.codeLengths[b.litLenCodeCount + j] != 0 && b.distCounts[j] == 0)
        Report(reporter, kReportVerbose, ReportKind::Detail,
               "      D-code defined but unused: %3u\n", j);
  }
}

void ReportNewBlock(const Reporter& reporter, uint32_t number, uint32_t type, uint64_t offset,
                    uint64_t bytes, uint64_t bits) {
  static const char* const kTypeNames[] = {"Stored", "Fixed trees", "Dynamic trees"};
  Report(reporter, kReportVerbose, ReportKind::Detail,
         "\n  Block      :%14s\n  Blocktype  :%14u  (%s)\n  Offset     :%14s\n"
         "  Size (unc) :%14s bytes\n  Size (unc) :%14s bits\n"
         "  Bits (new) :%14s  (%0.2f bits/bit)\n",
         FormatNumber(number).c_str(), type, kTypeNames[type < 3 ? type : 2],
         FormatNumber(offset).c_str(), FormatNumber(bytes).c_str(), FormatNumber(8 * bytes).c_str(),
         FormatNumber(bits).c_str(), static_cast<double>(8 * bytes) / static_cast<double>(bits));
}

void ReportRedo(const Reporter& reporter, uint32_t dynamicCost, const TreeHeaderPlan& plan) {
  const uint32_t codeLengthBits = 3 * plan.clCodeCount;
  Report(reporter, kReportVerbose, ReportKind::Detail,
         "  Bits (redo):%14s\n"
         "    %u C-codes (%u bits); %u bits for trees; %u bits total (%0.3f bytes)\n",
         FormatNumber(dynamicCost).c_str(), plan.clCodeCount, codeLengthBits,
         plan.headerBits - codeLengthBits - 17, plan.headerBits, plan.headerBits / 8.0);
}

}  // namespace trimbit
