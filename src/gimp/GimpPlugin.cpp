// elemorama-gimp: the master of the effect process inside GIMP 2.10. It serves the active drawable
// and the image's selection to elemorama-fx through the same master session as `elemorama edit`,
// and writes the result back through the shadow buffer as one undo step.
//
// Run modes:
// - interactive: the effect process opens its window; the parameter text it answers with is kept
//   (gimp_set_data) for "Repeat last";
// - with last values: a batch run with the kept parameter text;
// - non-interactive (scripts): a batch run with the parameter text given as the "params" argument,
//   typically a batch node such as  batch { effect "Rain" preset "Drizzle" }.
//
// The effect process is $ELEMORAMA_FX when set, else elemorama-fx beside the plug-in, else the
// installed one, else the one of the build tree, else elemorama-fx on PATH.

#include "imageio/ImageIO.h"
#include "oxf/MasterSession.h"

#include <gegl.h>
#include <libgimp/gimp.h>

#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string>

namespace {

using namespace Orvex;

constexpr const char* ProcedureName = "plug-in-elemorama";
constexpr const char* DataKey = "plug-in-elemorama/params";

void query();
void run(const gchar* name, gint nparams, const GimpParam* param, gint* nreturn, GimpParam** ret);

std::string findEffectProcess() {
    if (const char* env = g_getenv("ELEMORAMA_FX"); env && *env) return env;
    const std::string beside = OXF::effectProcessBesideSelf();
    if (access(beside.c_str(), X_OK) == 0) return beside;
#ifdef ELEMORAMA_FX_INSTALL_PATH
    if (access(ELEMORAMA_FX_INSTALL_PATH, X_OK) == 0) return ELEMORAMA_FX_INSTALL_PATH;
#endif
#ifdef ELEMORAMA_FX_BUILD_PATH
    if (access(ELEMORAMA_FX_BUILD_PATH, X_OK) == 0) return ELEMORAMA_FX_BUILD_PATH;
#endif
    if (gchar* found = g_find_program_in_path("elemorama-fx")) {
        std::string path = found;
        g_free(found);
        return path;
    }
    return "elemorama-fx";
}

// The babl format the drawable is served in, and the matching record layout. Linear and
// high-bit-depth images go as perceptual (gamma) samples, which the effect engine expects; the
// same format converts them back on writing.
struct Layout {
    const Babl* format = nullptr;
    ImageIO::ColorModel model = ImageIO::ColorModel::RGB;
    int sampleType = ImageIO::UInt8;
    bool alpha = false;
};

Layout layoutFor(gint32 image, gint32 drawable) {
    Layout layout;
    if (gimp_drawable_is_indexed(drawable))
        throw std::runtime_error("Elemorama works on RGB and greyscale images; convert this indexed image "
                                 "with Image > Mode > RGB first");
    layout.alpha = gimp_drawable_has_alpha(drawable);
    layout.model = gimp_drawable_is_gray(drawable) ? ImageIO::ColorModel::Grey : ImageIO::ColorModel::RGB;
    std::string type;
    switch (gimp_image_get_precision(image)) {
    case GIMP_PRECISION_U8_LINEAR:
    case GIMP_PRECISION_U8_GAMMA:
        layout.sampleType = ImageIO::UInt8, type = "u8";
        break;
    case GIMP_PRECISION_U16_LINEAR:
    case GIMP_PRECISION_U16_GAMMA:
        layout.sampleType = ImageIO::UInt16, type = "u16";
        break;
    default: // 32-bit integer, half, float and double
        layout.sampleType = ImageIO::Float32, type = "float";
        break;
    }
    std::string name = layout.model == ImageIO::ColorModel::Grey ? "Y'" : "R'G'B'";
    if (layout.alpha) name += "A";
    name += " " + type;
    layout.format = babl_format(name.c_str());
    return layout;
}

struct Result {
    std::string error;     // empty: done
    bool cancelled = false;
};

Result apply(gint32 image, gint32 drawable, const std::string& params, bool batch) {
    Result result;
    if (!gimp_item_is_drawable(drawable)) throw std::runtime_error("Elemorama needs a layer or channel to work on");
    const Layout layout = layoutFor(image, drawable);
    const int width = gimp_drawable_width(drawable), height = gimp_drawable_height(drawable);
    gint offsetX = 0, offsetY = 0;
    gimp_drawable_offsets(drawable, &offsetX, &offsetY);

    // The selection, in the drawable's frame; what lies outside the drawable does not matter and
    // what of the drawable lies outside the image's selection channel reads as unselected.
    const bool selected = !gimp_selection_is_empty(image);
    if (selected) {
        gint x, y, w, h;
        if (!gimp_drawable_mask_intersect(drawable, &x, &y, &w, &h))
            throw std::runtime_error("The selection does not touch the active layer; there is nothing to do");
    }

    ImageIO::ImageRecord record;
    record.width = width;
    record.height = height;
    record.model = layout.model;
    record.sampleType = layout.sampleType;
    record.hasAlpha = layout.alpha;
    record.allocate();
    // The image's colour profile (its own or GIMP's built-in one for its mode), as GIMP also
    // writes it into exported files: the effects manage colour from it.
    if (GimpColorProfile* profile = gimp_image_get_effective_color_profile(image)) {
        gsize length = 0;
        const guint8* bytes = gimp_color_profile_get_icc_profile(profile, &length);
        if (bytes && length) record.iccProfile.assign(bytes, bytes + length);
        g_object_unref(profile);
    }
    GeglBuffer* buffer = gimp_drawable_get_buffer(drawable);
    const GeglRectangle whole = {0, 0, width, height};
    gegl_buffer_get(buffer, &whole, 1.0, layout.format, record.samples.data(), GEGL_AUTO_ROWSTRIDE,
                    GEGL_ABYSS_NONE);

    ImageIO::ImageRecord selection;
    if (selected) {
        selection.width = width;
        selection.height = height;
        selection.model = ImageIO::ColorModel::Grey;
        selection.sampleType = ImageIO::UInt8;
        selection.allocate();
        GeglBuffer* mask = gimp_drawable_get_buffer(gimp_image_get_selection(image));
        const GeglRectangle area = {offsetX, offsetY, width, height};
        gegl_buffer_get(mask, &area, 1.0, babl_format("Y u8"), selection.samples.data(), GEGL_AUTO_ROWSTRIDE,
                        GEGL_ABYSS_NONE);
        g_object_unref(mask);
    }

    std::string text = params;
    if (batch && text.find("batch") == std::string::npos) text = "batch\n" + text;

    const std::string fx = findEffectProcess();
    if (fx.find('/') != std::string::npos && access(fx.c_str(), X_OK) != 0) {
        g_object_unref(buffer);
        throw std::runtime_error("The Elemorama effect process " + fx + " is missing");
    }
    OXF::MasterReply reply;
    {
        OXF::MasterSession session(fx);
        OXF::MasterRun run;
        run.image = &record;
        run.selection = selected ? &selection : nullptr;
        run.params = text;
        if (gchar* file = gimp_image_get_name(image)) {
            run.fileName = file;
            g_free(file);
        }
        run.pluginName = "Elemorama";
        run.transparencyLocked = gimp_layer_get_lock_alpha(drawable);
        run.timeoutSeconds = batch ? 600 : 0;
        try {
            reply = session.run(run);
        } catch (...) {
            g_object_unref(buffer);
            throw;
        }
        session.quit();
    }
    g_object_unref(buffer);
    if (reply.status == 1) {
        result.cancelled = true;
        return result;
    }
    if (reply.status != 0) {
        result.error = "The effect failed: " + (reply.error.empty() ? std::string("no reason given") : reply.error);
        return result;
    }

    // One undo step. The effect has already used the selection (rain falls from drops that start
    // inside it and may leave it; soft edges are blended by the effect), so the result goes back
    // whole: the selection is set aside while the shadow buffer is merged, or GIMP would clip the
    // streaks at its edge and blend soft edges a second time.
    gimp_image_undo_group_start(image);
    GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(drawable);
    gegl_buffer_set(shadow, &whole, 0, layout.format, record.samples.data(), GEGL_AUTO_ROWSTRIDE);
    gegl_buffer_flush(shadow);
    g_object_unref(shadow);
    const gint32 keptSelection = selected ? gimp_selection_save(image) : -1;
    if (keptSelection != -1) gimp_selection_none(image);
    gimp_drawable_merge_shadow(drawable, TRUE);
    if (keptSelection != -1) {
        gimp_image_select_item(image, GIMP_CHANNEL_OP_REPLACE, keptSelection);
        gimp_image_remove_channel(image, keptSelection);
        // Saving the selection made its channel the active drawable; the user's stays active.
        if (gimp_item_is_layer(drawable)) gimp_image_set_active_layer(image, drawable);
        else if (gimp_item_is_channel(drawable)) gimp_image_set_active_channel(image, drawable);
    }
    gimp_drawable_update(drawable, 0, 0, width, height);
    gimp_image_undo_group_end(image);

    // What "Repeat Last" reruns: the same text after a script's call; after the window, the
    // effect and values the window kept (the effect process answers with the text it was sent).
    const std::string kept = batch ? (reply.params.empty() ? params : reply.params) : std::string("batch { last 1 }");
    gimp_set_data(DataKey, kept.c_str(), kept.size() + 1);
    return result;
}

void query() {
    static const GimpParamDef args[] = {
        {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"), const_cast<gchar*>("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1) }")},
        {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Input image")},
        {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"), const_cast<gchar*>("Input drawable")},
        {GIMP_PDB_STRING, const_cast<gchar*>("params"),
         const_cast<gchar*>("Parameter text for non-interactive runs, e.g. batch { effect \"Rain\" }")},
    };
    gimp_install_procedure(ProcedureName, "Natural phenomena: rain, clouds, fire, frost, water and more",
                           "Opens the Elemorama effect window on the active layer and selection. "
                           "Non-interactive: applies the parameter text (a batch node) without a window.",
                           "Elemorama developers", "Elemorama developers", "2026", "_Elemorama...",
                           "RGB*, GRAY*", GIMP_PLUGIN, G_N_ELEMENTS(args), 0, args, nullptr);
    gimp_plugin_menu_register(ProcedureName, "<Image>/Filters/Elemorama");
}

void run(const gchar*, gint nparams, const GimpParam* param, gint* nreturn, GimpParam** ret) {
    static GimpParam values[2];
    *nreturn = 1;
    *ret = values;
    values[0].type = GIMP_PDB_STATUS;
    values[0].data.d_status = GIMP_PDB_SUCCESS;
    auto failWith = [&](const std::string& message, GimpPDBStatusType status) {
        static std::string kept;
        kept = message;
        values[0].data.d_status = status;
        values[1].type = GIMP_PDB_STRING;
        values[1].data.d_string = const_cast<gchar*>(kept.c_str());
        *nreturn = 2;
    };
    if (nparams < 3) {
        failWith("Elemorama: the call needs run-mode, image and drawable", GIMP_PDB_CALLING_ERROR);
        return;
    }
    const auto mode = GimpRunMode(param[0].data.d_int32);
    const gint32 image = param[1].data.d_image, drawable = param[2].data.d_drawable;
    gegl_init(nullptr, nullptr);

    std::string params;
    bool batch = false;
    if (mode == GIMP_RUN_NONINTERACTIVE) {
        if (nparams >= 4 && param[3].data.d_string) params = param[3].data.d_string;
        if (params.empty()) {
            failWith("Elemorama: a non-interactive call needs the parameter text, e.g. batch { effect \"Rain\" }",
                     GIMP_PDB_CALLING_ERROR);
            return;
        }
        batch = true;
    } else if (mode == GIMP_RUN_WITH_LAST_VALS) {
        const gint size = gimp_get_data_size(DataKey);
        if (size > 0) {
            std::string stored(size_t(size), '\0');
            gimp_get_data(DataKey, stored.data());
            params = stored.c_str();
            batch = true;
        }
        // Nothing kept yet: open the window as an interactive run would.
    }

    try {
        const Result result = apply(image, drawable, params, batch);
        if (result.cancelled) {
            values[0].data.d_status = GIMP_PDB_CANCEL;
            return;
        }
        if (!result.error.empty()) {
            if (mode == GIMP_RUN_INTERACTIVE) g_message("Elemorama: %s", result.error.c_str());
            failWith(result.error, GIMP_PDB_EXECUTION_ERROR);
            return;
        }
        if (mode != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
    } catch (const std::exception& e) {
        std::string message = std::string("Elemorama: ") + e.what();
        if (mode == GIMP_RUN_INTERACTIVE) g_message("%s", message.c_str());
        failWith(message, GIMP_PDB_EXECUTION_ERROR);
    }
}

} // namespace

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, query, run};

MAIN()
