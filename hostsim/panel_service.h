// The panel service ("LWXPanel 2", "LWXPanel"). The simulated host draws
// nothing: it keeps what the module hands it for each panel, so a test can
// check it, and it can drive a panel the way a user would (read a value
// through the get callback, edit it through set, open a popup, trigger the
// change notification).
#ifndef KERROWBEND_HOSTSIM_PANEL_SERVICE_H
#define KERROWBEND_HOSTSIM_PANEL_SERVICE_H

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/panel.h"

namespace hostsim {

class CallLog;

// What the value of PanelFuncs::version is in this host.
inline constexpr int kPanelServiceVersion = 2;

// The event codes this host's panel hands the change-notification callback.
// The contract gives meaning to one of them, a changed value; the others
// are what this host also reports about its controls, and a module is to
// let them pass.
enum PanelEvent : int {
  kPanelEventTracking = 1,  // a control is being dragged; the value is not final yet
  kPanelEventValueChanged = PANEL_EVENT_VALUE_CHANGED,
  kPanelEventButton = 3,     // a button control was pressed
  kPanelEventFocus = 4,      // a control gained the input focus
  kPanelEventLoseFocus = 5,  // a control lost the input focus
};

// Every event code but kPanelEventValueChanged, for tests that check the
// others change nothing.
inline constexpr int kPanelEventsOtherThanValueChanged[] = {kPanelEventTracking, kPanelEventButton,
                                                            kPanelEventFocus, kPanelEventLoseFocus};

struct PanelLabelHint {
  uint32_t id;
  const char *text;      // the pointer as handed over
  std::string textCopy;  // its text at the time of the hint call ("" for null)
  void *third;           // the hint's third parameter
};

struct PanelPopupHint {
  uint32_t cid;
  PanelPopCountFunc count;
  PanelPopNameFunc name;
};

// Everything the module told the host about one panel.
struct PanelRecord {
  PanelId id() const { return reinterpret_cast<PanelId>(const_cast<PanelRecord *>(this)); }

  int type = 0;
  const PanelControl *controls = nullptr;
  const PanelDataDesc *data = nullptr;
  PanelGetFunc get = nullptr;
  PanelSetFunc set = nullptr;
  int describeCalls = 0;

  // Every hint call's array, copied up to and including its closing 0, in
  // call order (hintIds[i] is the id the i-th call named).
  std::vector<uint32_t> hintIds;
  std::vector<std::vector<void *>> rawHints;
  std::vector<PanelLabelHint> labels;
  std::vector<PanelPopupHint> popups;
  PanelChangeFunc changeNotify = nullptr;
  // A tag this host does not know ends the parsing of its array (its
  // parameter count is unknown): the tag is kept here and the raw copy stops
  // before it.
  std::vector<uint32_t> unknownHintTags;

  std::map<uint32_t, void *> userData;
  void *viewedInstance = nullptr;
  int viewInstCalls = 0;
  int refreshCount = 0;
  bool destroyed = false;

  // The control with id cid from the control table, or null.
  const PanelControl *control(uint32_t cid) const;
  // The data entry with id vid from the data table, or null.
  const PanelDataDesc *dataEntry(uint32_t vid) const;

  // Reads a value the way the host's panel does: get(viewed instance, vid).
  void *valueAddress(uint32_t vid) const;
  // The same read as a string or integer; empty when get gives null.
  std::optional<std::string> stringValue(uint32_t vid) const;
  std::optional<int32_t> intValue(uint32_t vid) const;
  // Edits a value the way a user does: set(viewed instance, vid, value).
  // Gives what set answered.
  int setValue(uint32_t vid, void *value) const;
  int setString(uint32_t vid, const std::string &text) const;
  int setInt(uint32_t vid, int32_t value) const;

  // The popup hint for control cid, or null.
  const PanelPopupHint *popup(uint32_t cid) const;
  // Calls the popup's count and name functions with the viewed instance as
  // context. Throw std::invalid_argument when cid has no popup hint.
  int popupCount(uint32_t cid) const;
  const char *popupName(uint32_t cid, int index) const;
  // Every choice, count first then each name ("" for a null name).
  std::vector<std::string> popupChoices(uint32_t cid) const;

  // Calls the change-notification hint's callback; false when none was
  // given.
  bool notifyChange(uint32_t cid, uint32_t vid, int event = kPanelEventValueChanged) const;

  // A user's edit of an integer value as the host's panel carries it out:
  // set(viewed instance, vid, value), then the change notification for
  // control vid and value vid with kPanelEventValueChanged (when a
  // notification callback was given). Gives what set answered. The
  // notification follows even when set answered 0: the host has already
  // shown the new value in the control and does not take the edit back, it
  // only tells the module that the control changed.
  int editInt(uint32_t vid, int32_t value) const;
};

class PanelService {
 public:
  explicit PanelService(CallLog &log);
  PanelService(const PanelService &) = delete;
  PanelService &operator=(const PanelService &) = delete;

  PanelFuncs *table() { return &table_; }

  // create answers null while refused.
  void setCreateRefused(bool refused) { createRefused_ = refused; }

  // Every panel made and not forgotten, in creation order, also the
  // destroyed ones.
  const std::vector<std::unique_ptr<PanelRecord>> &panels() const { return panels_; }
  // The panel behind id, destroyed or not; null for a foreign or forgotten
  // id.
  PanelRecord *find(PanelId id) const;
  // Drops the destroyed panels' records; references to them dangle.
  void forgetDestroyed();
  // Calls on a foreign or destroyed panel; such a call changes nothing.
  int strayCalls() const { return strayCalls_; }

  CallLog &log() const { return log_; }

 private:
  friend struct PanelCalls;
  PanelRecord *live(PanelId id);

  CallLog &log_;
  PanelFuncs table_{};
  bool createRefused_ = false;
  std::vector<std::unique_ptr<PanelRecord>> panels_;
  std::unordered_map<PanelId, PanelRecord *> panelsById_;
  int strayCalls_ = 0;
};

}  // namespace hostsim

#endif
