/*
 * brlang.h - the language library: every visible text of the utility by id.
 *
 * The library is loaded by name at run time (libbrlang.so), so that another
 * language is another file. It exports one call.
 */
#ifndef BRLANG_H
#define BRLANG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Copies the text of id into buffer, cut to bufferMax - 1 bytes (never
 * inside a UTF-8 sequence) and NUL-terminated. Returns the number of bytes
 * copied without the NUL; 0 (with an empty buffer when bufferMax > 0) when
 * the id has no text or bufferMax is below 1. The caller owns the buffer.
 */
int32_t brLoadString(uint32_t id, char *buffer, int32_t bufferMax);

typedef int32_t (*BRLOADSTRING)(uint32_t id, char *buffer, int32_t bufferMax);

#define BRLANG_LOOKUP_SYMBOL "brLoadString"

#ifdef __cplusplus
}
#endif

#endif /* BRLANG_H */
