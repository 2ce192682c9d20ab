// Everything the deflate engine keeps between and during calls, in one
// record its owner allocates on the heap (it is large) and passes by
// reference: the stream cursor, the block header as read, the code tables
// and their storage, the re-encoder's record, the tree header search and
// the tie-break mode carried from block to block. Two records share
// nothing, so two threads may each work with their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "deflate/block_header.h"
#include "deflate/code_workspace.h"
#include "deflate/decode_table.h"
#include "deflate/decoded_digest.h"
#include "deflate/stream_state.h"
#include "huffman/canonical_codes.h"
#include "huffman/header_search.h"
#include "huffman/tie_break.h"
#include "huffman/tree_optimiser.h"
#include "support/output_sink.h"

namespace trimbit {

// The passes over a block, in the order a block may meet them; kNoPass:
// the block is finished.
enum PassKind : uint32_t { kOwnCodes = 0, kFixed = 1, kRedo = 2, kStored = 3, kNoPass = 4 };

// Records longer than this many symbols are not kept: such a block is
// decoded again in each pass. (A symbol takes at least one input bit.)
constexpr uint32_t kDefaultRecordLimit = 1u << 20;

// The re-encoder's state for the stream in hand, outside StreamState: a
// rewind to a block's start leaves all of it as it is.
struct Reencoder {
  StreamState blockSnapshot;   // the live state as the current block began
  uint8_t savedPrevByte;       // the output byte before blockSnapshot's outPos then
  uint32_t pass;               // PassKind of the pass in progress
  uint64_t bytesSinceHeader;   // decoded bytes written since the last block header
  uint64_t totalBitsRead;      // input bits of the blocks so far
  uint64_t fixedCost;          // the block with the fixed codes, as the last dynamic pass counted
  uint32_t dynamicCost;        // the block with the new code of the plan
  uint32_t headerBitsWritten;  // the tree header as re-sent in the first pass
  TreeHeaderPlan plan;         // the cheapest dynamic form of the block's counts
  uint32_t planValid;          // plan and dynamicCost were made in this block from planCounts
  uint32_t planCounts[288 + 32];  // the literal/length and distance counts of the plan
  CodeEntry newLitLenCodes[288];  // the plan's codes
  CodeEntry newDistCodes[32];
  DecodedDigest originalDigest;  // what the input stream decodes to
  // The new stream is built in a working buffer, a window on the output:
  // what no pass can change any more goes out to the sink, so the buffer
  // stays small however long the stream.
  std::vector<uint8_t> work;       // zero where not yet written
  size_t workDirty;                // leading bytes of work that may not be zero
  uint8_t* workStart;              // work.data() for the stream in hand
  uint8_t* workLimit;              // writing past here means a broken invariant
  uint32_t workWindow = 4u << 20;  // the buffer of a long stream; at a block's start,
                                   // a quarter of it gathered goes out
  uint8_t* spillAt;                // a writer that gets here sends the bytes before it out
  uint64_t workBase;               // byte of the new stream at workStart[0]
  OutputSink* sink;                // where the new stream goes
  uint64_t streamOrigin;           // the sink's size when the new stream began
  OutputBuffer scratch;            // the sink of a stream re-encoded into memory
  // The symbol record of the current block (see symbol_replay.h).
  std::unique_ptr<uint32_t[]> record;
  uint32_t recordCapacity;  // words allocated
  uint32_t recordLimit = kDefaultRecordLimit;
  uint32_t recordLength;  // words of the current block's record
  uint32_t recordValid;   // the first pass kept the whole block
  // The block fits in the window: the later passes find its bytes there as
  // the first pass left them, and so neither restore nor write the window.
  uint32_t windowKept;
  // The reader as the first pass left it at the end of the block.
  BitReaderPosition afterReader;
  uint64_t afterBlockBitsRead;
};

// The working memory of the -x way (split_reencode.h), made on first use.
struct SplitWork;
struct SplitWorkDeleter {
  void operator()(SplitWork* work) const;
};

struct CodecState {
  StreamCursor cursor;               // the stream being decoded, and the writer
  BlockHeader header;                // the current block's header as read
  CodeWorkspace work;                // the current block's codes, tables and counts
  DecodeTableStorage decodeStorage;  // where the current block's decoding tables live
  Reencoder reencoder;               // the re-encoder's record of the stream in hand
  HeaderSearchState headerSearch;    // working state of the tree header search
  TieBreakState tieBreak;            // the mode carried from block to block (and file to file)
  bool splitBlocks = false;          // -x: each stream also tries new block boundaries
  uint32_t splitWindow = 1u << 20;   // symbols searched at once by -x (SetSplitWindow)
  std::unique_ptr<SplitWork, SplitWorkDeleter> split;
};

// A new record, all zero but for the defaults above.
inline std::unique_ptr<CodecState> NewCodecState() {
  return std::make_unique<CodecState>();
}

}  // namespace trimbit
