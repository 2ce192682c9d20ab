/* Optimises one GZIP, PNG or ZIP file through the Trimbit library:
 *
 *   optimise_file INPUT OUTPUT
 *
 * reads INPUT, prints what the library reports, and writes the smaller image
 * to OUTPUT, or says the original is kept (OUTPUT is then not written).
 * Build it against an installed library with
 *
 *   cc optimise_file.c $(pkg-config --cflags --libs trimbit) -o optimise_file
 */
#include <stdio.h>
#include <stdlib.h>
#include <trimbit.h>

/* Reads the whole file into memory; returns null on failure. */
static uint8_t* read_file(const char* path, size_t* size) {
  FILE* file = fopen(path, "rb");
  uint8_t* data = NULL;
  size_t capacity = 0;
  *size = 0;
  if (file == NULL) return NULL;
  for (;;) {
    if (*size == capacity) {
      uint8_t* larger = realloc(data, capacity = capacity * 2 + 65536);
      if (larger == NULL) break;
      data = larger;
    }
    size_t got = fread(data + *size, 1, capacity - *size, file);
    *size += got;
    if (got == 0) {
      if (ferror(file)) break;
      fclose(file);
      return data;
    }
  }
  fclose(file);
  free(data);
  return NULL;
}

/* Prints each report event as it arrives: the lines the program prints. */
static void print_event(void* context, const trimbit_event* event) {
  (void)context;
  fwrite(event->text, 1, event->length, stdout);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s INPUT OUTPUT\n", argv[0]);
    return 2;
  }
  size_t size;
  uint8_t* image = read_file(argv[1], &size);
  if (image == NULL) {
    perror(argv[1]);
    return 1;
  }
  trimbit_format format = trimbit_detect_format(image, size);
  if (format == TRIMBIT_FORMAT_UNKNOWN) {
    fprintf(stderr, "%s: not a GZIP, PNG or ZIP file\n", argv[1]);
    free(image);
    return 1;
  }

  /* One session may serve many images; null options mean the defaults. */
  trimbit_session* session = trimbit_session_new();
  trimbit_result result;
  int status = 1;
  if (session == NULL) {
    fprintf(stderr, "out of memory\n");
  } else if (trimbit_optimise(session, NULL, format, image, size, print_event, NULL, &result) !=
             TRIMBIT_OK) {
    fprintf(stderr, "%s: %s\n", argv[1], trimbit_session_message(session));
  } else if (result.keep_original) {
    printf("Nothing worth saving: the original is kept.\n");
    status = 0;
  } else {
    /* The new image belongs to the session: write it before freeing that. */
    FILE* out = fopen(argv[2], "wb");
    int written =
        out != NULL && fwrite(result.output, 1, result.output_size, out) == result.output_size;
    if (out != NULL && fclose(out) != 0) written = 0;
    if (written) {
      printf("Wrote %zu bytes to %s (Trimbit %s).\n", result.output_size, argv[2],
             trimbit_version());
      status = 0;
    } else {
      perror(argv[2]);
    }
  }
  trimbit_session_free(session);
  free(image);
  return status;
}
