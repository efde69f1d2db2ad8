#pragma once
// The controller: the one way the user interface asks for a change. Behaviors, the
// clipboard capture, the drop target, the export command and the drag manager hand
// it a raw happening (send) or a named action (execute); it reads the record ids out
// of the elements involved, logs to "cntrl", and passes the model one command.

#include <memory>
#include <string>
#include <vector>

#include "controller/actions.h"
#include "controller/dragmgr/drag_mgr.h"
#include "fml/singleton.h"
#include "fml/whoami.h"
#include "model/model_events.h"

namespace hrd {

class hrdModel;

class hdcontroller : public whoami, public fml::singleton<hdcontroller> {
public:
    static constexpr const char* singleton_name = "controller";

    // Works on hrdModel::instance() with the table "DragMgr.xml" in HoardlyDir.
    hdcontroller();
    hdcontroller(hrdModel& model, const std::u16string& drag_table_path);
    ~hdcontroller() override;

    std::string name() const override { return "controller"; }

    // A raw happening. For a mouse event: true when it started a drag or a drop ran an
    // action (the event is then consumed). For a text: true once it was stored.
    // Raises wrong_vcaction, fml::deprecated, unknown_vcaction and the errors of the
    // action it runs.
    bool send(const vcaction& action);
    // A named action with its data. Raises unknown_vcaction for a name it does not
    // know, wrong_id_format and wrong_he_type for elements that are not what the
    // action reads, and the model's errors.
    void execute(const named_action& action);

    // The same, but an error of the program's own refuses the action instead of
    // ending anything: "Error: ..." is logged to "app", the view is brought back in
    // step with the store, and false is returned. What the user interface calls.
    bool send_safely(const vcaction& action);
    bool execute_safely(const named_action& action);
    // The same as send_safely, and when the action is refused `refusal` gets the
    // error's message, for telling the user why.
    bool send_safely(const vcaction& action, std::string& refusal);

    DragMgr& drag_manager() { return *m_drag; }

    // Whether `name` is one of the actions execute() knows.
    static bool is_action_name(const std::u16string& name);
    // The action that does for a list's checked rows (handed the table) what
    // `single` does for one row's element; empty when there is none.
    static std::u16string_view list_form(std::u16string_view single);
    // The ids of the quotes checked in the quote list `table`, in row order, those
    // out of view included. Raises wrong_he_type when it is not a table.
    static id_list checked_quotes(layout::handle table);

private:
    bool handle_mouse(const vcaction& action, const mouse_record& mouse);
    void run_drop(const std::u16string& action, layout::handle dragged, layout::handle target);
    void forward(const model_event& event);
    template <class Action>
    bool refuse_errors(Action&& action, std::string* refusal = nullptr);

    hrdModel& m_model;
    std::unique_ptr<DragMgr> m_drag;
};

}  // namespace hrd
