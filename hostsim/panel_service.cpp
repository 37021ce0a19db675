#include "hostsim/panel_service.h"

#include <cstring>
#include <stdexcept>

#include "hostsim/call_log.h"
#include "hostsim/host.h"

namespace hostsim {

// ---- reading and driving a panel ------------------------------------------

const PanelControl *PanelRecord::control(uint32_t cid) const {
  for (const PanelControl *entry = controls; entry != nullptr && entry->cid != 0; ++entry) {
    if (entry->cid == cid) return entry;
  }
  return nullptr;
}

const PanelDataDesc *PanelRecord::dataEntry(uint32_t vid) const {
  for (const PanelDataDesc *entry = data; entry != nullptr && entry->vid != 0; ++entry) {
    if (entry->vid == vid) return entry;
  }
  return nullptr;
}

void *PanelRecord::valueAddress(uint32_t vid) const {
  if (get == nullptr) throw std::logic_error("panel: no get callback was described");
  return get(viewedInstance, vid);
}

std::optional<std::string> PanelRecord::stringValue(uint32_t vid) const {
  const void *address = valueAddress(vid);
  if (address == nullptr) return std::nullopt;
  return std::string(static_cast<const char *>(address));
}

std::optional<int32_t> PanelRecord::intValue(uint32_t vid) const {
  const void *address = valueAddress(vid);
  if (address == nullptr) return std::nullopt;
  int32_t value = 0;
  std::memcpy(&value, address, sizeof value);
  return value;
}

int PanelRecord::setValue(uint32_t vid, void *value) const {
  if (set == nullptr) throw std::logic_error("panel: no set callback was described");
  return set(viewedInstance, vid, value);
}

int PanelRecord::setString(uint32_t vid, const std::string &text) const {
  std::string copy = text;  // set receives a writable buffer, as from a text field
  return setValue(vid, copy.data());
}

int PanelRecord::setInt(uint32_t vid, int32_t value) const { return setValue(vid, &value); }

const PanelPopupHint *PanelRecord::popup(uint32_t cid) const {
  for (const PanelPopupHint &hint : popups) {
    if (hint.cid == cid) return &hint;
  }
  return nullptr;
}

int PanelRecord::popupCount(uint32_t cid) const {
  const PanelPopupHint *hint = popup(cid);
  if (hint == nullptr || hint->count == nullptr) {
    throw std::invalid_argument("panel: control " + std::to_string(cid) + " has no popup");
  }
  return hint->count(viewedInstance);
}

const char *PanelRecord::popupName(uint32_t cid, int index) const {
  const PanelPopupHint *hint = popup(cid);
  if (hint == nullptr || hint->name == nullptr) {
    throw std::invalid_argument("panel: control " + std::to_string(cid) + " has no popup");
  }
  return hint->name(viewedInstance, index);
}

std::vector<std::string> PanelRecord::popupChoices(uint32_t cid) const {
  std::vector<std::string> choices;
  const int count = popupCount(cid);
  for (int i = 0; i < count; ++i) {
    const char *name = popupName(cid, i);
    choices.emplace_back(name != nullptr ? name : "");
  }
  return choices;
}

bool PanelRecord::notifyChange(uint32_t cid, uint32_t vid, int event) const {
  if (changeNotify == nullptr) return false;
  changeNotify(id(), cid, vid, event);
  return true;
}

int PanelRecord::editInt(uint32_t vid, int32_t value) const {
  const int answer = setInt(vid, value);
  notifyChange(vid, vid, kPanelEventValueChanged);
  return answer;
}

// ---- the service ----------------------------------------------------------

namespace {

uint32_t tagOf(void *value) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(value)); }

}  // namespace

struct PanelCalls {
  static PanelService *service() {
    Host *host = Host::current();
    return host != nullptr ? &host->panels() : nullptr;
  }

  static PanelId create(int type, const PanelControl *controls) {
    PanelService *panels = service();
    if (panels == nullptr) return nullptr;
    panels->log_.record("panel.create", type);
    if (panels->createRefused_) return nullptr;
    auto record = std::make_unique<PanelRecord>();
    record->type = type;
    record->controls = controls;
    panels->panelsById_.emplace(record->id(), record.get());
    panels->panels_.push_back(std::move(record));
    return panels->panels_.back()->id();
  }

  static void destroy(PanelId id) {
    PanelService *panels = service();
    if (panels == nullptr) return;
    panels->log_.record("panel.destroy");
    if (PanelRecord *record = panels->live(id)) record->destroyed = true;
  }

  static void describe(PanelId id, const PanelDataDesc *data, PanelGetFunc get, PanelSetFunc set) {
    PanelService *panels = service();
    if (panels == nullptr) return;
    panels->log_.record("panel.describe");
    if (PanelRecord *record = panels->live(id)) {
      record->data = data;
      record->get = get;
      record->set = set;
      ++record->describeCalls;
    }
  }

  static void hint(PanelId id, uint32_t hintId, void **hints) {
    PanelService *panels = service();
    if (panels == nullptr) return;
    panels->log_.record("panel.hint", hintId);
    PanelRecord *record = panels->live(id);
    if (record == nullptr) return;
    record->hintIds.push_back(hintId);
    std::vector<void *> raw;
    // The array lives only for this call: copy it, and the label text with it.
    for (std::size_t at = 0; hints != nullptr;) {
      const uint32_t tag = tagOf(hints[at]);
      if (tag == 0) {
        raw.push_back(nullptr);
        break;
      }
      std::size_t params = 0;
      if (tag == PANEL_HINT_LABEL) {
        const auto *text = static_cast<const char *>(hints[at + 2]);
        record->labels.push_back(
            PanelLabelHint{tagOf(hints[at + 1]), text, text != nullptr ? text : "", hints[at + 3]});
        params = 3;
      } else if (tag == PANEL_HINT_POPUP_FUNCS) {
        record->popups.push_back(PanelPopupHint{tagOf(hints[at + 1]),
                                                reinterpret_cast<PanelPopCountFunc>(hints[at + 2]),
                                                reinterpret_cast<PanelPopNameFunc>(hints[at + 3])});
        params = 3;
      } else if (tag == PANEL_HINT_CHANGE_NOTIFY) {
        record->changeNotify = reinterpret_cast<PanelChangeFunc>(hints[at + 1]);
        params = 1;
      } else {
        record->unknownHintTags.push_back(tag);
        break;
      }
      raw.insert(raw.end(), hints + at, hints + at + 1 + params);
      at += 1 + params;
    }
    record->rawHints.push_back(std::move(raw));
  }

  static void *getData(PanelId id, uint32_t dataId) {
    PanelService *panels = service();
    if (panels == nullptr) return nullptr;
    panels->log_.record("panel.getData", dataId);
    PanelRecord *record = panels->live(id);
    if (record == nullptr) return nullptr;
    const auto found = record->userData.find(dataId);
    return found != record->userData.end() ? found->second : nullptr;
  }

  static void setData(PanelId id, uint32_t dataId, void *data) {
    PanelService *panels = service();
    if (panels == nullptr) return;
    panels->log_.record("panel.setData", dataId);
    if (PanelRecord *record = panels->live(id)) record->userData[dataId] = data;
  }

  static void viewInst(PanelId id, void *instance) {
    PanelService *panels = service();
    if (panels == nullptr) return;
    panels->log_.record("panel.viewInst");
    if (PanelRecord *record = panels->live(id)) {
      record->viewedInstance = instance;
      ++record->viewInstCalls;
    }
  }

  static void viewRefresh(PanelId id) {
    PanelService *panels = service();
    if (panels == nullptr) return;
    panels->log_.record("panel.viewRefresh");
    if (PanelRecord *record = panels->live(id)) ++record->refreshCount;
  }
};

PanelService::PanelService(CallLog &log) : log_(log) {
  table_ = PanelFuncs{kPanelServiceVersion,  &PanelCalls::destroy,  &PanelCalls::create,
                      &PanelCalls::describe, &PanelCalls::hint,     &PanelCalls::getData,
                      &PanelCalls::setData,  &PanelCalls::viewInst, &PanelCalls::viewRefresh};
}

PanelRecord *PanelService::find(PanelId id) const {
  const auto found = panelsById_.find(id);
  return found != panelsById_.end() ? found->second : nullptr;
}

void PanelService::forgetDestroyed() {
  std::erase_if(panels_, [this](const std::unique_ptr<PanelRecord> &record) {
    if (!record->destroyed) return false;
    panelsById_.erase(record->id());
    return true;
  });
}

PanelRecord *PanelService::live(PanelId id) {
  PanelRecord *record = find(id);
  if (record == nullptr || record->destroyed) {
    ++strayCalls_;
    return nullptr;
  }
  return record;
}

}  // namespace hostsim
