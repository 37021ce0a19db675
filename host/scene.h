/* Scene services: items, scene-wide vertex maps, object meshes, time and the
 * product code. Tables may have further fields after the listed ones. The
 * item and mesh operations are called during evaluation and must be
 * [thread-safe] on the host's side. */
#ifndef KERROWBEND_HOST_SCENE_H
#define KERROWBEND_HOST_SCENE_H

#include "host/types.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { ITEM_TYPE_OBJECT = 0 };
enum { ITEM_PARAM_FORWARD = 4 };     /* the item's forward (+Z) direction */
#define VMAP_TYPE_WEIGHT 0x57474854u /* 'WGHT' */

#define ITEM_INFO_SERVICE "LW Item Info 6"
#define ITEM_INFO_SERVICE_5 "LW Item Info 5"
#define SCENE_OBJECTS_SERVICE "Scene Objects 7"
#define SCENE_OBJECTS_SERVICE_6 "Scene Objects 6"
#define OBJECT_INFO_SERVICE "LW Object Info 9"
#define OBJECT_INFO_SERVICE_8 "LW Object Info 8"
#define OBJECT_INFO_SERVICE_7 "LW Object Info 7"
#define TIME_INFO_SERVICE "LW Time Info"
#define PRODUCT_INFO_SERVICE "Product Info"

/* ITEM_INFO_SERVICE, ITEM_INFO_SERVICE_5 */
typedef struct ItemInfo {
  /* First item of a type (ITEM_TYPE_OBJECT: objects) under parent, or null. */
  ItemId (*first)(int itemType, ItemId parent);
  /* The item after item in the host's order, or null. */
  ItemId (*next)(ItemId item);
  /* The item's name; the host owns the text. */
  const char *(*name)(ItemId item);
  /* A parameter of the item at a time, written to out. */
  void (*param)(ItemId item, int param, double time, double out[3]);
} ItemInfo;

/* SCENE_OBJECTS_SERVICE, SCENE_OBJECTS_SERVICE_6 */
typedef struct SceneObjects {
  /* Number of vertex maps of a type across the scene. */
  int (*numVMaps)(uint32_t vmapType);
  /* Name of the vertex map of a type at an index; the host owns the text. */
  const char *(*vmapName)(uint32_t vmapType, int index);
} SceneObjects;

typedef struct MeshInfo MeshInfo;

/* The last host version (major * 10 + minor) whose meshes answer
 * vmapLookupV1; later hosts answer vmapLookupV2. */
enum { MESH_LOOKUP_V1_LAST_HOST = 100 };

/* A view of one object's mesh, handed out by ObjectInfo.meshInfo. */
struct MeshInfo {
  void *priv; /* the host's */
  /* Releases the view; may be null, and then nothing needs releasing. */
  void (*destroy)(MeshInfo *mesh);
  /* Finds a vertex map by type and name: the entry for hosts up to 100. */
  VMapId (*vmapLookupV1)(MeshInfo *mesh, uint32_t vmapType, const char *name);
  /* Non-zero when point has a value in vmap, which is written to value. */
  int (*pointVMapValue)(MeshInfo *mesh, PointId point, float *value, VMapId vmap);
  /* Finds a vertex map by type and name: the entry for hosts above 100. */
  VMapId (*vmapLookupV2)(MeshInfo *mesh, uint32_t vmapType, const char *name);
};

/* meshInfo's frozen argument that asks for the frozen mesh. */
enum { MESH_INFO_FROZEN = 1 };

/* OBJECT_INFO_SERVICE, OBJECT_INFO_SERVICE_8, OBJECT_INFO_SERVICE_7 */
typedef struct ObjectInfo {
  /* A mesh view of an object; frozen non-zero asks for the frozen mesh. */
  MeshInfo *(*meshInfo)(ItemId object, int frozen);
} ObjectInfo;

/* TIME_INFO_SERVICE */
typedef struct TimeInfo {
  double time; /* the current time in seconds */
  int frame;   /* the current frame */
} TimeInfo;

/* PRODUCT_INFO_SERVICE gives no table: the pointer itself, as uintptr_t, is
 * the product code, with the minor version in bits 16-19, the major in 20-23. */
#define PRODUCT_CODE_MINOR_SHIFT 16
#define PRODUCT_CODE_MAJOR_SHIFT 20
#define PRODUCT_CODE_DIGIT_MASK 0xFu

HOST_LAYOUT_CHECK(offsetof(ItemInfo, next) == 8);
HOST_LAYOUT_CHECK(offsetof(ItemInfo, name) == 16);
HOST_LAYOUT_CHECK(offsetof(ItemInfo, param) == 24);
HOST_LAYOUT_CHECK(offsetof(SceneObjects, vmapName) == 8);
HOST_LAYOUT_CHECK(offsetof(MeshInfo, destroy) == 8);
HOST_LAYOUT_CHECK(offsetof(MeshInfo, vmapLookupV1) == 16);
HOST_LAYOUT_CHECK(offsetof(MeshInfo, pointVMapValue) == 24);
HOST_LAYOUT_CHECK(offsetof(MeshInfo, vmapLookupV2) == 32);
HOST_LAYOUT_CHECK(offsetof(ObjectInfo, meshInfo) == 0);
HOST_LAYOUT_CHECK(offsetof(TimeInfo, frame) == 8);

#ifdef __cplusplus
}
#endif

#endif
