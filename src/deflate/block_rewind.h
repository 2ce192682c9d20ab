// Going back over a block: every pass over a block starts from a snapshot
// of the live state taken as the block began, and a block can also be
// dropped (it decodes to nothing) or copied back bit for bit (no form was
// shorter than the bits as read). The destination is the working buffer of
// the stream (reencoder.workStart), which is zero wherever nothing has been
// written.
#pragma once

#include "deflate/codec_state.h"

namespace trimbit {

// Takes the snapshot of the live state as the block begins, with the
// output word at the writer's position and the byte before it.
void TakeSnapshot(CodecState& codec);

// Back to the block's start: the destination and the whole live state, the
// window excepted while the later passes keep it as it is.
void Rewind(CodecState& codec);

// Leaves no trace of the block in the output; its input stays consumed,
// and it keeps its number.
void DropBlock(CodecState& codec);

// Writes the block's input bits unchanged in place of what the passes
// wrote: reader and writer go back to the block's start, nothing else. The
// block then counts as written dynamic.
void CopyBlockBack(CodecState& codec);

// The reader at the end of the block, as the first pass leaves it and as a
// replayed pass must leave it too.
void SaveReaderAfterBlock(CodecState& codec);
void RestoreReaderAfterBlock(CodecState& codec);

}  // namespace trimbit
