#include "deflate/block_report.h"

#include <cstdio>

#include "driver/console.h"

void ReportBlock(const BlockStatistics& b) {
  char typeName[64];
  if (b.btype == 0) {
    std::snprintf(typeName, sizeof typeName, "Stored");
  } else if (b.btype == 1) {
    std::snprintf(typeName, sizeof typeName, "Fixed trees");
  } else {
    std::snprintf(typeName, sizeof typeName, "Dynamic trees; L-codes: %u; D-codes: %u",
                  b.litLenCodeCount, b.distCodeCount);
  }
  PrintMessage(kLevelVerbose,
               "\n  Block      :%14s\n  Blocktype  :%14u  (%s)\n  Offset     :%14s\n"
               "  Size (unc) :%14s bytes\n  Size (unc) :%14s bits\n"
               "  Bits (com) :%14s  (%0.2f bits/bit)\n",
               FormatNumber(b.blockNumber), b.btype, typeName, FormatNumber(b.blockOffset),
               FormatNumber(b.blockBytes), FormatNumber(8 * b.blockBytes),
               FormatNumber(b.blockBitsRead),
               static_cast<double>(8 * b.blockBytes) / static_cast<double>(b.blockBitsRead));

  if (b.btype == 2) {
    const uint32_t codeLengthBits = 3 * b.clCodeCount;
    const uint32_t headerRead = b.sequenceBitsRead + codeLengthBits + 17;
    PrintMessage(kLevelVerbose,
                 "    %u C-codes (%u bits); %u bits for trees; %u bits total (%0.3f bytes)\n"
                 "  Bits (new) :%14s\n"
                 "    %u C-codes (%u bits); %u bits for trees; %u bits total (%0.3f bytes)\n"
                 "  Bits fixed :%14s\n",
                 b.clCodeCount, codeLengthBits, b.sequenceBitsRead, headerRead, headerRead / 8.0,
                 FormatNumber(b.blockBits), b.clCodeCount, codeLengthBits,
                 b.headerBitsWritten - codeLengthBits - 17, b.headerBitsWritten,
                 b.headerBitsWritten / 8.0, FormatNumber(b.fixedCost));
  }

  const uint32_t pad = (8 - ((b.blockStart + 3) % 8)) % 8;
  PrintMessage(kLevelVerbose, "  Bits stored:%14s\n", FormatNumber(8 * b.blockBytes + 35 + pad));

  if (b.btype == 2) {
    for (uint32_t i = 0; i < b.litLenCodeCount; ++i)
      if (b.codeLengths[i] != 0 && b.litLenCounts[i] == 0)
        PrintMessage(kLevelVerbose, "      L-code defined but unused: %3u\n", i);
    for (uint32_t j = 0; j < b.distCodeCount; ++j)
      if (b.codeLengths[b.litLenCodeCount + j] != 0 && b.distCounts[j] == 0)
        PrintMessage(kLevelVerbose, "      D-code defined but unused: %3u\n", j);
  }
}

void ReportRedo(uint32_t dynamicCost, const TreeHeaderPlan& plan) {
  const uint32_t codeLengthBits = 3 * plan.clCodeCount;
  PrintMessage(kLevelVerbose,
               "  Bits (redo):%14s\n"
               "    %u C-codes (%u bits); %u bits for trees; %u bits total (%0.3f bytes)\n",
               FormatNumber(dynamicCost), plan.clCodeCount, codeLengthBits,
               plan.headerBits - codeLengthBits - 17, plan.headerBits, plan.headerBits / 8.0);
}
