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