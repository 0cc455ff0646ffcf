<?xml version='1.0' encoding='utf-8'?>
<TS version="2.1" language="en_US">
<context>
    <name>Aurora</name>
    </context>
<context>
    <name>ColorButton</name>
    </context>
<context>
    <name>CommonText</name>
    <message>
        <source>Help_HINT</source>
        <translation>Opens the help pages.</translation>
    </message>
    <message>
        <source>BTN_REDO_HINT</source>
        <translation>Brings back the step undone last.</translation>
    </message>
    <message>
        <source>BTN_UNDO_HINT</source>
        <translation>Goes back to the previous result.</translation>
    </message>
    <message>
        <source>LoadImage_HINT</source>
        <translation>Loads another image; in a run the image comes from the host application.</translation>
    </message>
    <message>
        <source>SaveImage_HINT</source>
        <translation>Saves the result shown into an image file; the host's image stays as it is.</translation>
    </message>
    <message>
        <source>Print_HINT</source>
        <translation>Prints the result shown; the host's image stays as it is.</translation>
    </message>
    <message>
        <source>Apply_HINT</source>
        <translation>Renders the final result, writes it into the image and closes the window.</translation>
    </message>
    <message>
        <source>BTN_OPTION_HINT</source>
        <translation>Opens the preferences: language, theme, zoom, history and selection display.</translation>
    </message>
    <message>
        <source>Run_HINT</source>
        <translation>Computes the result with the current settings.</translation>
    </message>
    <message>
        <source>Cancel_HINT</source>
        <translation>Closes the window without changing the image.</translation>
    </message>
    </context>
<context>
    <name>Cumulus</name>
    </context>
<context>
    <name>DocumentFilters</name>
    <message>
        <source>startTEXT</source>
        <translation>Choose an effect, tune it in the panel, and press Apply to write it into the image.</translation>
    </message>
    <message>
        <source>Rain_HINT</source>
        <translation>Rain: drops and streaks over the selection.</translation>
    </message>
    <message>
        <source>Sun_HINT</source>
        <translation>Sun: disc, glow, halo and rays.</translation>
    </message>
    <message>
        <source>Water_HINT</source>
        <translation>Water: a water surface with waves below the horizon.</translation>
    </message>
    <message>
        <source>Lightning_HINT</source>
        <translation>Lightning: branching bolts along the drawn lines.</translation>
    </message>
    <message>
        <source>Cumulus_HINT</source>
        <translation>Clouds: cumulus clouds inside the selection.</translation>
    </message>
    <message>
        <source>Frost_HINT</source>
        <translation>Frost: ice crystals growing in from the edges.</translation>
    </message>
    <message>
        <source>Fire_HINT</source>
        <translation>Fire: tongues of flame rising from the selection's lower edge.</translation>
    </message>
    <message>
        <source>Rainbow_HINT</source>
        <translation>Rainbow: a bow through three placed points.</translation>
    </message>
    <message>
        <source>Aurora_HINT</source>
        <translation>Aurora: curtains with rays above the drawn lines.</translation>
    </message>
    <message>
        <source>NightSky_HINT</source>
        <translation>Night sky: stars, nebulas and meteors in their zones.</translation>
    </message>
    </context>
<context>
    <name>ElemoramaActionSet</name>
    </context>
<context>
    <name>EvalProgressBar</name>
    </context>
<context>
    <name>Fire</name>
    </context>
<context>
    <name>Frost</name>
    </context>
<context>
    <name>Lightning</name>
    </context>
<context>
    <name>MacMenu</name>
    </context>
<context>
    <name>MaskToolFilter</name>
    </context>
<context>
    <name>Navigator</name>
    </context>
<context>
    <name>NightSky</name>
    </context>
<context>
    <name>Orvex::Document::Filters::StrokesFile</name>
    </context>
<context>
    <name>Orvex::UI</name>
    </context>
<context>
    <name>PluginUI</name>
    </context>
<context>
    <name>PluginUIClass</name>
    <message>
        <source>BTN_LOAD_PRESET_HINT</source>
        <translation>Imports presets from a preset file into the effect's list of user presets.</translation>
    </message>
    <message>
        <source>BTN_SAVE_PRESET_HINT</source>
        <translation>Exports the effect's user presets into a preset file.</translation>
    </message>
    <message>
        <source>BTN_STROKELOAD_HINT</source>
        <translation>Loads the selection strokes or lines of the effect from a file.</translation>
    </message>
    <message>
        <source>BTN_STROKESAVE_HINT</source>
        <translation>Saves the selection strokes or lines of the effect into a file.</translation>
    </message>
    <message>
        <source>BTN_SHOWSTROKES_HINT</source>
        <translation>Shows the painted selection over the image.</translation>
    </message>
    <message>
        <source>MAINVIEW_HINT</source>
        <translation>The image. Paint or draw with the effect's tools; the wheel zooms, the middle button moves the view.</translation>
    </message>
    <message>
        <source>EFFECT_COMBO_BOX_HINT</source>
        <translation>Chooses the effect to paint onto the photo.</translation>
    </message>
    <message>
        <source>NAVIGATOR_HINT</source>
        <translation>The whole image with the part in view: click to move there, use the slider or the list to zoom.</translation>
    </message>
    <message>
        <source>BTN_AUTORUN_HINT</source>
        <translation>Computes a new preview by itself after every change.</translation>
    </message>
    <message>
        <source>BTN_BEFORE_HINT</source>
        <translation>Shows the image as it was before the effect.</translation>
    </message>
    <message>
        <source>BTN_AFTER_HINT</source>
        <translation>Shows the image with the effect.</translation>
    </message>
    <message>
        <source>BTN_LOGO_HINT</source>
        <translation>Opens the product's web page.</translation>
    </message>
    <message>
        <source>BTN_TOPBAR_HINT</source>
        <translation>Folds the top bar down to Run, Apply and Cancel, or unfolds it again.</translation>
    </message>
    <message>
        <source>TOOL_SIZE_HINT</source>
        <translation>The size of the brush or the eraser, in image pixels.</translation>
    </message>
    </context>
<context>
    <name>PresetExchange</name>
    </context>
<context>
    <name>PresetsUI</name>
    </context>
<context>
    <name>Rain</name>
    </context>
<context>
    <name>Rainbow</name>
    </context>
<context>
    <name>Sun</name>
    </context>
<context>
    <name>ToolFilter</name>
    </context>
<context>
    <name>Water</name>
    </context>
</TS>