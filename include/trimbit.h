/* Trimbit: makes GZIP, PNG and ZIP images smaller without changing what they
 * hold, by writing every deflate block again in its cheapest form and trimming
 * container metadata. No new matches are searched for.
 *
 * The library works on images in memory, or streams them through the
 * caller's functions. It never prints, never exits and never touches a
 * file: the caller reads the file, hands its bytes to trimbit_optimise() (or
 * a way to read them to trimbit_optimise_stream()), and decides what to do
 * with the result. Every piece of
 * state lives in a session, which the caller creates and frees; two sessions
 * share nothing, so two threads may each use their own session at once. A
 * session must not be used by two threads at the same time.
 *
 * One session may optimise any number of images, one after another. It
 * carries one small piece of state from one image to the next, as the
 * command-line program does over a run: the tie-break rule the last Huffman
 * code search settled on, which the next image's first tree header may read.
 * Use one session per run to get the command line's exact bytes; see
 * trimbit_session_set_carried_mode() for running images out of order.
 */
#ifndef TRIMBIT_H
#define TRIMBIT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(TRIMBIT_SHARED_BUILD)
#define TRIMBIT_API __attribute__((visibility("default")))
#else
#define TRIMBIT_API
#endif

/* The library's version as the program reports it, such as "2.08 beta". */
TRIMBIT_API const char* trimbit_version(void);

typedef enum trimbit_format {
  TRIMBIT_FORMAT_UNKNOWN = -1, /* trimbit_detect_format(): no known signature */
  TRIMBIT_FORMAT_GZIP = 0,
  TRIMBIT_FORMAT_PNG = 1,
  TRIMBIT_FORMAT_ZIP = 2
} trimbit_format;

/* The format whose signature the image starts with (GZIP: 1F 8B 08; PNG: the
 * 8-byte PNG signature; ZIP: a local file header, 50 4B 03 04), or
 * TRIMBIT_FORMAT_UNKNOWN. Needs at least 8 bytes to recognise anything. */
TRIMBIT_API trimbit_format trimbit_detect_format(const uint8_t* data, size_t size);

/* What the command-line letters mean for one image. Zero means "off". */
typedef struct trimbit_options {
  int replace_on_bits; /* -b: worth replacing when bits but no whole byte were saved */
  int keep_comments;   /* -c: keep GZIP and ZIP comments */
  int force_rewrite;   /* -f: always produce a new image, even when nothing was saved */
  int keep_all;        /* -k: keep every chunk and structure */
  int verbosity;       /* which report events are produced at all: 0 none (-s),
                          1 normal lines (the default), 2 verbose detail too (-v) */
} trimbit_options;

/* Report events: the lines the command line prints for an image, produced as
 * they arise and in the order it prints them. `level` is 1 for normal lines
 * and 2 for verbose detail (headers, chunks, members, the block report);
 * events above the options' verbosity are never produced. `text` holds the
 * line(s) exactly as the command line prints them, newlines included, and
 * `length` its length; it is valid only during the call. */
typedef enum trimbit_event_kind {
  TRIMBIT_EVENT_DETAIL = 0, /* what was read and written; printed at once */
  TRIMBIT_EVENT_NOTICE = 1, /* the image is left unchanged, and why */
  TRIMBIT_EVENT_RESULT = 2  /* the lines that follow a new image (the bytes saved): the
                               command line prints them once the new file is written.
                               Every event after the first of these is one too. */
} trimbit_event_kind;

typedef struct trimbit_event {
  trimbit_event_kind kind;
  int level;
  const char* text;
  size_t length;
} trimbit_event;

/* Receives each event; must return normally (no longjmp, no C++ exception). */
typedef void (*trimbit_report_fn)(void* context, const trimbit_event* event);

typedef enum trimbit_status {
  TRIMBIT_OK = 0,
  TRIMBIT_BAD_INPUT = 1,        /* the image is refused; the message says why */
  TRIMBIT_OUT_OF_MEMORY = 2,    /* the message names what could not be allocated */
  TRIMBIT_INTERNAL_FAULT = 3,   /* a broken invariant of the library; please report it */
  TRIMBIT_INVALID_ARGUMENT = 4, /* a null pointer, an unknown format or verbosity, a mode above 3 */
  TRIMBIT_IO_ERROR = 5          /* a function of trimbit_input or trimbit_output failed; the
                                   caller knows why (the session's message only says which) */
} trimbit_status;

typedef struct trimbit_result {
  int keep_original;     /* 1: nothing worth replacing the image with (the command line
                            leaves the file as it is); output is then null */
  const uint8_t* output; /* the new image, owned by the session, valid until the
                            session's next call or its end */
  size_t output_size;
  uint64_t bits_saved;   /* as the report counts them */
  uint64_t bytes_saved;  /* by the new image the library made; 0 when it made none.
                            The command line adds it to its total either way */
  unsigned carried_mode; /* the tie-break mode the session carries to the next image */
  int read_carried_mode; /* 1: the new image depends on the mode the session carried
                            into this call: an image optimised in another session, or
                            after other images, may come out different */
} trimbit_result;

typedef struct trimbit_session trimbit_session;

/* A new session, carrying mode 0, or null when memory runs out. */
TRIMBIT_API trimbit_session* trimbit_session_new(void);
/* Frees the session and everything it holds; null is ignored. */
TRIMBIT_API void trimbit_session_free(trimbit_session* session);

/* Optimises one image of the given format (size bytes at image; the bytes are
 * only read). On TRIMBIT_OK the result says whether to keep the original or
 * gives the new image. On any other status the result is cleared and
 * trimbit_session_message() says what went wrong in the command line's
 * words. `options` may be null for the command line's defaults (verbosity 1,
 * no letters); `report` may be null to receive no events. */
TRIMBIT_API trimbit_status trimbit_optimise(trimbit_session* session,
                                            const trimbit_options* options, trimbit_format format,
                                            const uint8_t* image, size_t size,
                                            trimbit_report_fn report, void* report_context,
                                            trimbit_result* result);

/* Where trimbit_optimise_stream() reads the image: `size` bytes, read by
 * `read` (n bytes at `offset`, n never 0, the range always within the size;
 * returns 0 on success and anything else on failure). Reads may come in any
 * order and read the same bytes again. */
typedef struct trimbit_input {
  uint64_t size;
  void* context;
  int (*read)(void* context, uint64_t offset, void* buffer, size_t n);
} trimbit_input;

/* Where trimbit_optimise_stream() puts the new image as it is made. Each
 * function returns 0 on success and anything else on failure.
 *   write:    appends n bytes at the end;
 *   write_at: overwrites n bytes at `offset`, within what was written;
 *   read_at:  reads n bytes at `offset` back, within what was written;
 *   truncate: drops everything from `size` on.
 * Once the call returns, the output holds the new image (the result's
 * output_size bytes) or, when the result says to keep the original, nothing
 * of worth: the caller discards it. */
typedef struct trimbit_output {
  void* context;
  int (*write)(void* context, const void* bytes, size_t n);
  int (*write_at)(void* context, uint64_t offset, const void* bytes, size_t n);
  int (*read_at)(void* context, uint64_t offset, void* buffer, size_t n);
  int (*truncate)(void* context, uint64_t size);
} trimbit_output;

/* trimbit_optimise() for an image of any size that need not be in memory:
 * the image is read through `input` and the new image written to `output`
 * as it is made. Memory stays bounded whatever the size of the image (a ZIP
 * image keeps its central directory's entries in memory). The result's
 * output is null; output_size says how long the new image is. When a function of
 * `input` or `output` fails, the call ends with TRIMBIT_IO_ERROR. */
TRIMBIT_API trimbit_status trimbit_optimise_stream(
    trimbit_session* session, const trimbit_options* options, trimbit_format format,
    const trimbit_input* input, const trimbit_output* output, trimbit_report_fn report,
    void* report_context, trimbit_result* result);

/* The message of the last failed call ("" after a successful one). */
TRIMBIT_API const char* trimbit_session_message(const trimbit_session* session);

/* Sets the tie-break mode (0 to 3) the session carries into its next call:
 * the carried_mode an earlier result reported, to optimise images out of
 * order and still get the bytes of a run in order. */
TRIMBIT_API trimbit_status trimbit_session_set_carried_mode(trimbit_session* session,
                                                            unsigned mode);

/* -x for the session's later calls (off in a new session): also try new
 * block boundaries over each deflate stream's own symbols, and keep them
 * where the stream comes out shorter; never longer than without, but slower.
 * A session setting rather than an options field, so that programs built
 * against an earlier trimbit_options keep working with this library. */
TRIMBIT_API trimbit_status trimbit_session_set_split_blocks(trimbit_session* session, int on);

#ifdef __cplusplus
}
#endif
#endif
