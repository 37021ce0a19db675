/* The panel service, under PANEL_SERVICE or its older name PANEL_SERVICE_1.
 * The module describes a panel with constant tables and reaches its values
 * only through get and set callbacks; the host draws and runs it. All calls are [main-thread]. */
#ifndef KERROWBEND_HOST_PANEL_H
#define KERROWBEND_HOST_PANEL_H

#include "host/types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define PANEL_SERVICE "LWXPanel 2"
#define PANEL_SERVICE_1 "LWXPanel"

enum { PANEL_TYPE_VIEW = 1 }; /* the kind of panel the module creates */

/* Control classes (PanelControl.ctrlClass) and value types
 * (PanelDataDesc.dataType) the host knows by name. */
#define PANEL_CONTROL_PRESET_TEXT "sPresetText" /* text with a popup of choices */
#define PANEL_CONTROL_BOOLEAN "iBoolean"
#define PANEL_CONTROL_INTEGER "integer"
#define PANEL_DATA_STRING "string"
#define PANEL_DATA_INTEGER "integer"

/* Hint tags. A hint array is a void *[] of tags, each followed by its
 * parameters, ended by a single 0. */
#define PANEL_HINT_LABEL 0x3D000B03u         /* id, label text, 0 */
#define PANEL_HINT_POPUP_FUNCS 0x3D016203u   /* control id, count fn, name fn */
#define PANEL_HINT_CHANGE_NOTIFY 0x3D000F01u /* PanelChangeFunc */

enum { PANEL_EVENT_VALUE_CHANGED = 2 };

/* One control of a panel; tables end with {0, null, null} and live as long
 * as the module. */
typedef struct PanelControl {
  uint32_t cid;          /* control id; shows the value with the same id */
  const char *label;     /* text shown beside the control */
  const char *ctrlClass; /* kind of control, e.g. "iBoolean" */
} PanelControl;

/* One value of a panel; tables end with {0, null, null}. */
typedef struct PanelDataDesc {
  uint32_t vid;         /* value id */
  const char *name;     /* value name */
  const char *dataType; /* e.g. "string", "integer" */
} PanelDataDesc;

/* The address of an instance's value, read by the panel; or null. */
typedef void *(*PanelGetFunc)(void *instance, uint32_t vid);
/* Stores a new value into the instance; 1 when handled, 0 otherwise. */
typedef int (*PanelSetFunc)(void *instance, uint32_t vid, void *value);
/* The change-notification hint's callback. */
typedef void (*PanelChangeFunc)(PanelId panel, uint32_t cid, uint32_t vid, int event);
/* Popup choices of a control: their number, and the text of one. */
typedef int (*PanelPopCountFunc)(void *context);
typedef const char *(*PanelPopNameFunc)(void *context, int index);

typedef struct PanelFuncs {
  int version;
  void (*destroy)(PanelId panel);
  PanelId (*create)(int type, const PanelControl *controls);
  void (*describe)(PanelId panel, const PanelDataDesc *data, PanelGetFunc get, PanelSetFunc set);
  /* hints is valid only during the call. */
  void (*hint)(PanelId panel, uint32_t id, void **hints);
  void *(*getData)(PanelId panel, uint32_t id);
  void (*setData)(PanelId panel, uint32_t id, void *data);
  void (*viewInst)(PanelId panel, void *instance);
  void (*viewRefresh)(PanelId panel);
} PanelFuncs;

HOST_LAYOUT_CHECK(offsetof(PanelControl, label) == 8);
HOST_LAYOUT_CHECK(offsetof(PanelControl, ctrlClass) == 16 && sizeof(PanelControl) == 24);
HOST_LAYOUT_CHECK(offsetof(PanelDataDesc, name) == 8);
HOST_LAYOUT_CHECK(offsetof(PanelDataDesc, dataType) == 16 && sizeof(PanelDataDesc) == 24);
HOST_LAYOUT_CHECK(offsetof(PanelFuncs, destroy) == 8);
HOST_LAYOUT_CHECK(offsetof(PanelFuncs, create) == 16);
HOST_LAYOUT_CHECK(offsetof(PanelFuncs, describe) == 24);
HOST_LAYOUT_CHECK(offsetof(PanelFuncs, hint) == 32);
HOST_LAYOUT_CHECK(offsetof(PanelFuncs, getData) == 40);
HOST_LAYOUT_CHECK(offsetof(PanelFuncs, setData) == 48);
HOST_LAYOUT_CHECK(offsetof(PanelFuncs, viewInst) == 56);
HOST_LAYOUT_CHECK(offsetof(PanelFuncs, viewRefresh) == 64);

#ifdef __cplusplus
}
#endif

#endif
