/* The host's block interface for a node's data in scene files.
 *
 * A node saves its settings as a sequence of blocks, each named by a
 * four-character identifier; the host decides how they are encoded (a binary
 * and a text form, where each block appears under its token). All calls come
 * from the host's main thread, inside the node's load or save callback. */
#ifndef KERROWBEND_HOST_BLOCKS_H
#define KERROWBEND_HOST_BLOCKS_H

#include "host/types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One entry of a list of blocks a loader understands; lists end with {0, null}. */
typedef struct BlockIdent {
  BlockId id;        /* four-character identifier */
  const char *token; /* the block's name in the host's text form */
} BlockIdent;

/* Handed to a node's load callback; valid only during that call. */
typedef struct LoadState {
  int ioMode;     /* 0 binary, 1 text; the host's business */
  void *readData; /* the host's reader, passed back to every call */
  /* Reads up to count integers; returns how many were read. */
  int (*readI4)(void *readData, int32_t *values, int count);
  /* Reads a string into buffer, writing at most max bytes. A stored string
   * of max bytes or more may arrive cut, without a terminating zero. */
  int (*readStr)(void *readData, char *buffer, int max);
  /* Identifier of the next block at this level, or 0 at the end. A host may
   * skip blocks not in the list, or may return them. */
  BlockId (*findBlk)(void *readData, const BlockIdent *list);
  /* Leaves the block that findBlk entered. */
  void (*endBlk)(void *readData);
} LoadState;

/* Handed to a node's save callback; valid only during that call. */
typedef struct SaveState {
  int ioMode;      /* 0 binary, 1 text; the host's business */
  void *writeData; /* the host's writer, passed back to every call */
  void (*writeI4)(void *writeData, const int32_t *values, int count);
  void (*writeStr)(void *writeData, const char *string);
  /* Opens a block; leaf is non-zero for a block that holds no blocks. */
  void (*beginBlk)(void *writeData, const BlockIdent *block, int leaf);
  /* Closes the block last opened. */
  void (*endBlk)(void *writeData);
} SaveState;

HOST_LAYOUT_CHECK(offsetof(BlockIdent, token) == 8 && sizeof(BlockIdent) == 16);
HOST_LAYOUT_CHECK(offsetof(LoadState, readData) == 8);
HOST_LAYOUT_CHECK(offsetof(LoadState, readI4) == 16);
HOST_LAYOUT_CHECK(offsetof(LoadState, readStr) == 24);
HOST_LAYOUT_CHECK(offsetof(LoadState, findBlk) == 32);
HOST_LAYOUT_CHECK(offsetof(LoadState, endBlk) == 40 && sizeof(LoadState) == 48);
HOST_LAYOUT_CHECK(offsetof(SaveState, writeData) == 8);
HOST_LAYOUT_CHECK(offsetof(SaveState, writeI4) == 16);
HOST_LAYOUT_CHECK(offsetof(SaveState, writeStr) == 24);
HOST_LAYOUT_CHECK(offsetof(SaveState, beginBlk) == 32);
HOST_LAYOUT_CHECK(offsetof(SaveState, endBlk) == 40 && sizeof(SaveState) == 48);

#ifdef __cplusplus
}
#endif

#endif
