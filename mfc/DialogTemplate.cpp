#include "mfc/DialogTemplate.h"

#include <map>
#include <mutex>

namespace {

struct TemplateTable {
    std::mutex mutex;
    std::map<unsigned, DialogTemplate> templates;
};

TemplateTable& templateTable() {
    static TemplateTable table;
    return table;
}

}  // namespace

void AfxRegisterDialogTemplate(DialogTemplate dialogTemplate) {
    TemplateTable& table = templateTable();
    std::lock_guard<std::mutex> guard(table.mutex);
    const unsigned id = dialogTemplate.id;
    table.templates[id] = std::move(dialogTemplate);
}

void AfxRemoveDialogTemplate(unsigned id) {
    TemplateTable& table = templateTable();
    std::lock_guard<std::mutex> guard(table.mutex);
    table.templates.erase(id);
}

std::optional<DialogTemplate> AfxFindDialogTemplate(unsigned id) {
    TemplateTable& table = templateTable();
    std::lock_guard<std::mutex> guard(table.mutex);
    const auto it = table.templates.find(id);
    if (it == table.templates.end())
        return std::nullopt;
    return it->second;
}
