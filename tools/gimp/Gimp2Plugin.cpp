// The plug-in's face to GIMP 2.10: the procedures registered at query time,
// the layer read and written through GEGL, undo, and the procedure's answers.
// Everything that does not depend on GIMP's plug-in interface is in
// GimpHost, so another version of that interface replaces this file only.
#include <libgimp/gimp.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tools/filterhost/ModuleRun.h"
#include "tools/gimp/GimpHost.h"

namespace {

// The filter's record counts pixels in 16 bits.
constexpr int kMaxSide = 32767;

gchar* Text(const char* text) { return const_cast<gchar*>(text); }

const GimpParamDef kArguments[] = {
    {GIMP_PDB_INT32, Text("run-mode"),
     Text("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1), RUN-WITH-LAST-VALS (2) }")},
    {GIMP_PDB_IMAGE, Text("image"), Text("Input image")},
    {GIMP_PDB_DRAWABLE, Text("drawable"), Text("Input layer")},
    {GIMP_PDB_STRING, Text("script"),
     Text("A session script (the commands of kelvane --script), replayed instead of opening the "
          "editor when the run is not interactive")},
};

const char* const kHelp =
    "Opens the filter's editor on the whole active layer; a selection is ignored. OK writes the "
    "result into the layer as one undo step, adding an alpha channel when the layer has none; "
    "Cancel leaves the layer as it was. Run non-interactively, the session script given in "
    "'script' is replayed instead of opening the editor.";

void Query() {
  for (const CGimpProcedure& procedure : FindGimpProcedures(GimpModuleFolders())) {
    const std::string blurb = "Runs the filter module " + procedure.module.name + " (" +
                              procedure.module.path + ") on the active layer";
    gimp_install_procedure(procedure.name.c_str(), blurb.c_str(), kHelp, "Kelvane", "Kelvane",
                           "2026", procedure.menuLabel.c_str(), "RGB*", GIMP_PLUGIN,
                           G_N_ELEMENTS(kArguments), 0, kArguments, nullptr);
    gimp_plugin_menu_register(procedure.name.c_str(), procedure.menuPath.c_str());
  }
}

// The answer handed back to GIMP; it must outlive Run.
struct CAnswer {
  GimpParam values[2];
  std::string error;

  void Set(GimpPDBStatusType status, gint* count, GimpParam** values_out,
           const std::string& why = std::string()) {
    values[0].type = GIMP_PDB_STATUS;
    values[0].data.d_status = status;
    *count = 1;
    *values_out = values;
    if (!why.empty()) {
      error = why;
      values[1].type = GIMP_PDB_STRING;
      values[1].data.d_string = Text(error.c_str());
      *count = 2;
    }
  }
};
CAnswer g_answer;

// The layer's pixels as 8-bit R'G'B'A in the image's own colour space, so
// that nothing is converted on the way in or out.
const Babl* LayerFormat(gint32 drawable) {
  return babl_format_with_space("R'G'B'A u8", gimp_drawable_get_format(drawable));
}

CHostLayer ReadLayer(gint32 drawable) {
  GeglBuffer* buffer = gimp_drawable_get_buffer(drawable);
  CHostLayer layer;
  layer.width = gegl_buffer_get_width(buffer);
  layer.height = gegl_buffer_get_height(buffer);
  layer.planes = 4;
  layer.imageMode = plugInModeRGBColor;
  layer.bytes.resize(static_cast<size_t>(layer.width) * static_cast<size_t>(layer.height) * 4);
  const GeglRectangle whole{0, 0, layer.width, layer.height};
  gegl_buffer_get(buffer, &whole, 1.0, LayerFormat(drawable), layer.bytes.data(),
                  GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
  g_object_unref(buffer);
  return layer;
}

// One undo step: the alpha channel added, and the pixels over the whole
// layer. The selection would limit the merge, so it is put aside meanwhile.
void WriteLayer(gint32 image, gint32 drawable, const CHostLayer& layer) {
  gimp_image_undo_group_start(image);
  if (!gimp_drawable_has_alpha(drawable)) gimp_layer_add_alpha(drawable);
  gint32 selection = -1;
  if (!gimp_selection_is_empty(image)) {
    selection = gimp_selection_save(image);
    gimp_selection_none(image);
  }
  GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(drawable);
  const GeglRectangle whole{0, 0, layer.width, layer.height};
  gegl_buffer_set(shadow, &whole, 0, LayerFormat(drawable), layer.bytes.data(),
                  GEGL_AUTO_ROWSTRIDE);
  gegl_buffer_flush(shadow);
  g_object_unref(shadow);
  gimp_drawable_merge_shadow(drawable, TRUE);
  if (selection != -1) {
    gimp_image_select_item(image, GIMP_CHANNEL_OP_REPLACE, selection);
    gimp_image_remove_channel(image, selection);
  }
  gimp_drawable_update(drawable, 0, 0, layer.width, layer.height);
  gimp_image_undo_group_end(image);
}

// The script a run with last values replays (empty after the editor), or
// nothing when the procedure has not run in this GIMP session.
std::optional<std::string> LastScript(const char* procedure) {
  const gint size = gimp_get_data_size(procedure);
  if (size <= 0) return std::nullopt;
  std::vector<char> bytes(static_cast<size_t>(size));
  if (!gimp_get_data(procedure, bytes.data())) return std::nullopt;
  return std::string(bytes.data(), strnlen(bytes.data(), bytes.size()));
}

void Run(const gchar* name, gint count, const GimpParam* params, gint* answerCount,
         GimpParam** answer) {
  if (count < 3) {
    g_answer.Set(GIMP_PDB_CALLING_ERROR, answerCount, answer,
                 "expected the run mode, an image and a layer");
    return;
  }
  const auto runMode = static_cast<GimpRunMode>(params[0].data.d_int32);
  const gint32 image = params[1].data.d_image;
  const gint32 drawable = params[2].data.d_drawable;

  CGimpRunRequest request;
  if (runMode == GIMP_RUN_NONINTERACTIVE) {
    const gchar* script = count >= 4 ? params[3].data.d_string : nullptr;
    if (!script || !*script) {
      g_answer.Set(GIMP_PDB_CALLING_ERROR, answerCount, answer,
                   "a run that is not interactive needs a session script");
      return;
    }
    request.script = script;
  } else if (runMode == GIMP_RUN_WITH_LAST_VALS) {
    // A batch repeating a call that never ran must learn that nothing was done.
    const std::optional<std::string> last = LastScript(name);
    if (!last) {
      g_answer.Set(GIMP_PDB_EXECUTION_ERROR, answerCount, answer,
                   std::string("there is nothing to repeat: ") + name +
                       " has not run in this GIMP session; give it a session script");
      return;
    }
    request.script = *last;
  }
  request.interactive = request.script.empty();
  request.hasDisplay = request.interactive && HostPlatformData().hasDisplay != 0;

  if (!gimp_item_is_layer(drawable) || !gimp_drawable_is_rgb(drawable)) {
    g_answer.Set(GIMP_PDB_CALLING_ERROR, answerCount, answer,
                 "the filter works on a layer of an RGB image");
    return;
  }
  if (request.interactive && !request.hasDisplay) {
    g_answer.Set(GIMP_PDB_EXECUTION_ERROR, answerCount, answer,
                 "the editor needs a display; without one, run the filter non-interactively "
                 "with a session script");
    return;
  }
  gegl_init(nullptr, nullptr);
  const std::vector<std::string> folders = GimpModuleFolders();
  const CGimpProcedure* procedure = nullptr;
  const std::vector<CGimpProcedure> procedures = FindGimpProcedures(folders);
  for (const CGimpProcedure& found : procedures) {
    if (found.name == name) procedure = &found;
  }
  if (!procedure) {
    g_answer.Set(GIMP_PDB_EXECUTION_ERROR, answerCount, answer,
                 std::string("no filter module for ") + name + " in " + FolderList(folders));
    return;
  }
  if (gimp_drawable_width(drawable) > kMaxSide || gimp_drawable_height(drawable) > kMaxSide) {
    g_answer.Set(GIMP_PDB_EXECUTION_ERROR, answerCount, answer,
                 "the layer is larger than the filter can take (" + std::to_string(kMaxSide) +
                     " pixels a side)");
    return;
  }

  CHostLayer layer = ReadLayer(drawable);
  const CGimpRunResult result = RunGimpProcedure(*procedure, layer, request);
  for (const std::string& message : result.messages) gimp_message(message.c_str());
  switch (result.end) {
    case CGimpRunResult::EEnd::kFailed:
      g_answer.Set(GIMP_PDB_EXECUTION_ERROR, answerCount, answer, result.error);
      return;
    case CGimpRunResult::EEnd::kCancelled:
      g_answer.Set(GIMP_PDB_CANCEL, answerCount, answer);
      return;
    case CGimpRunResult::EEnd::kResult:
      break;
  }
  WriteLayer(image, drawable, layer);
  // After the editor, repeating opens the editor again rather than an older
  // script.
  gimp_set_data(name, request.script.c_str(), static_cast<guint32>(request.script.size() + 1));
  if (runMode != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
  g_answer.Set(GIMP_PDB_SUCCESS, answerCount, answer);
}

}  // namespace

// libgimp finds the plug-in's functions under this name.
const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, Query, Run};

int main(int argc, char** argv) { return gimp_main(&PLUG_IN_INFO, argc, argv); }
