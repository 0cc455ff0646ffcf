<?xml version='1.0' encoding='utf-8'?>
<TS version="2.1" language="de_DE">
<context>
    <name>Aurora</name>
    <message>
        <source>Red</source>
        <translation>Rot</translation>
    </message>
    <message>
        <source>Green</source>
        <translation>Grün</translation>
    </message>
    <message>
        <source>Blue</source>
        <translation>Blau</translation>
    </message>
    <message>
        <source>Inversion</source>
        <translation>Umkehren</translation>
    </message>
    <message>
        <source>Color Mix</source>
        <translation>Farbmischung</translation>
    </message>
    <message>
        <source>Glow</source>
        <translation>Leuchten</translation>
    </message>
    <message>
        <source>Brightness</source>
        <translation>Helligkeit</translation>
    </message>
    <message>
        <source>Rate</source>
        <translation>Rate</translation>
    </message>
    <message>
        <source>Glow Sigma X</source>
        <translation>Leuchten Sigma X</translation>
    </message>
    <message>
        <source>Sigma X</source>
        <translation>Sigma X</translation>
    </message>
    <message>
        <source>Sigma Y</source>
        <translation>Sigma Y</translation>
    </message>
    <message>
        <source>Length</source>
        <translation>Länge</translation>
    </message>
    <message>
        <source>Geometry</source>
        <translation>Geometrie</translation>
    </message>
    <message>
        <source>Opacity</source>
        <translation>Deckkraft</translation>
    </message>
    <message>
        <source>Blend Mode</source>
        <translation>Mischmodus</translation>
    </message>
</context>
<context>
    <name>ColorButton</name>
    <message>
        <source>Select Color</source>
        <translation>Farbe wählen</translation>
    </message>
</context>
<context>
    <name>CommonText</name>
    <message>
        <source>Undo</source>
        <translation>Rückgängig</translation>
    </message>
    <message>
        <source>Run</source>
        <translation>Berechnen</translation>
    </message>
    <message>
        <source>Apply the result to the image</source>
        <translation>Das Ergebnis auf das Bild anwenden</translation>
    </message>
    <message>
        <source>Cancel the result</source>
        <translation>Das Ergebnis verwerfen</translation>
    </message>
    <message>
        <source>Preferences</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Redo</source>
        <translation>Wiederholen</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>Help_HINT</source>
        <translation>Öffnet die Hilfeseiten.</translation>
    </message>
    <message>
        <source>BTN_REDO_HINT</source>
        <translation>Stellt den zuletzt rückgängig gemachten Schritt wieder her.</translation>
    </message>
    <message>
        <source>BTN_UNDO_HINT</source>
        <translation>Kehrt zum vorigen Ergebnis zurück.</translation>
    </message>
    <message>
        <source>LoadImage_HINT</source>
        <translation>Lädt ein anderes Bild; bei einem Aufruf kommt das Bild aus dem Bildprogramm.</translation>
    </message>
    <message>
        <source>SaveImage_HINT</source>
        <translation>Speichert das gezeigte Ergebnis in eine Bilddatei; das Bild im Bildprogramm bleibt unverändert.</translation>
    </message>
    <message>
        <source>Print_HINT</source>
        <translation>Druckt das gezeigte Ergebnis; das Bild im Bildprogramm bleibt unverändert.</translation>
    </message>
    <message>
        <source>Apply_HINT</source>
        <translation>Berechnet das endgültige Ergebnis, schreibt es in das Bild und schließt das Fenster.</translation>
    </message>
    <message>
        <source>BTN_OPTION_HINT</source>
        <translation>Öffnet die Einstellungen: Sprache, Design, Zoom, Verlauf und Auswahlanzeige.</translation>
    </message>
    <message>
        <source>Run_HINT</source>
        <translation>Berechnet das Ergebnis mit den aktuellen Einstellungen.</translation>
    </message>
    <message>
        <source>Cancel_HINT</source>
        <translation>Schließt das Fenster, ohne das Bild zu ändern.</translation>
    </message>
    <message>
        <source>Save result image into file</source>
        <translation>Das Ergebnis in eine Datei speichern</translation>
    </message>
    <message>
        <source>Load image from file</source>
        <translation>Bild aus einer Datei laden</translation>
    </message>
    <message>
        <source>Print result image on printer</source>
        <translation>Das Ergebnis drucken</translation>
    </message>
</context>
<context>
    <name>Cumulus</name>
    <message>
        <source>Cloudiness</source>
        <translation>Bewölkung</translation>
    </message>
    <message>
        <source>Boundary</source>
        <translation>Rand</translation>
    </message>
    <message>
        <source>Smoothness</source>
        <translation>Weichheit</translation>
    </message>
    <message>
        <source>Contrast</source>
        <translation>Kontrast</translation>
    </message>
    <message>
        <source>Transparency</source>
        <translation>Transparenz</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Größe</translation>
    </message>
    <message>
        <source>Color</source>
        <translation>Farbe</translation>
    </message>
</context>
<context>
    <name>DocumentFilters</name>
    <message>
        <source>Nothing selected! Select working areas with Selection brush first</source>
        <translation>Nichts ausgewählt! Wählen Sie zuerst mit dem Auswahlpinsel die Arbeitsbereiche.</translation>
    </message>
    <message>
        <source>Nothing to do! Draw line(s) with Direction tool first</source>
        <translation>Nichts zu tun! Zeichnen Sie zuerst Linien mit dem Richtungswerkzeug.</translation>
    </message>
    <message>
        <source>startTEXT</source>
        <translation>Wählen Sie einen Effekt, stellen Sie ihn im Bedienfeld ein und wenden Sie ihn mit „Anwenden“ an.</translation>
    </message>
    <message>
        <source>Rain_HINT</source>
        <translation>Regen: Tropfen und Schlieren über der Auswahl.</translation>
    </message>
    <message>
        <source>Sun_HINT</source>
        <translation>Sonne: Scheibe, Schein, Halo und Strahlen.</translation>
    </message>
    <message>
        <source>Water_HINT</source>
        <translation>Wasser: eine Wasserfläche mit Wellen unter dem Horizont.</translation>
    </message>
    <message>
        <source>Lightning_HINT</source>
        <translation>Blitz: verzweigte Blitze entlang der gezeichneten Linien.</translation>
    </message>
    <message>
        <source>Cumulus_HINT</source>
        <translation>Wolken: Haufenwolken in der Auswahl.</translation>
    </message>
    <message>
        <source>Frost_HINT</source>
        <translation>Frost: Eiskristalle, die von den Rändern her wachsen.</translation>
    </message>
    <message>
        <source>Fire_HINT</source>
        <translation>Feuer: Flammenzungen, die vom unteren Rand der Auswahl aufsteigen.</translation>
    </message>
    <message>
        <source>Rainbow_HINT</source>
        <translation>Regenbogen: ein Bogen durch drei gesetzte Punkte.</translation>
    </message>
    <message>
        <source>Aurora_HINT</source>
        <translation>Polarlicht: Vorhänge mit Strahlen über den gezeichneten Linien.</translation>
    </message>
    <message>
        <source>NightSky_HINT</source>
        <translation>Nachthimmel: Sterne, Nebel und Meteore in ihren Zonen.</translation>
    </message>
    <message>
        <source>Write error of file:
 %1</source>
        <translation>Schreibfehler in der Datei:
 %1</translation>
    </message>
    <message>
        <source>Error loading from %1</source>
        <translation>Fehler beim Laden aus %1</translation>
    </message>
    <message>
        <source>File %1 is for %2 effect</source>
        <translation>Die Datei %1 gehört zum Effekt %2</translation>
    </message>
    <message>
        <source>Draw lines</source>
        <translation>Linien zeichnen</translation>
    </message>
    <message>
        <source>Erase lines</source>
        <translation>Linien löschen</translation>
    </message>
    <message>
        <source>Transform tool</source>
        <translation>Transformieren</translation>
    </message>
    <message>
        <source>Transform tool status tip</source>
        <translation>Verschiebt, dreht und skaliert alle Linien zusammen.</translation>
    </message>
</context>
<context>
    <name>ElemoramaActionSet</name>
    <message>
        <source>Apply</source>
        <translation>Anwenden</translation>
    </message>
    <message>
        <source>&amp;Run</source>
        <translation>&amp;Berechnen</translation>
    </message>
    <message>
        <source>Preferences...</source>
        <translation>Einstellungen ...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>&amp;help...</source>
        <translation>&amp;Hilfe ...</translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation>&amp;Bearbeiten</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>&amp;New...</source>
        <translation>&amp;Neu ...</translation>
    </message>
    <message>
        <source>&amp;Open...</source>
        <translation>Ö&amp;ffnen ...</translation>
    </message>
    <message>
        <source>&amp;Save...</source>
        <translation>&amp;Speichern ...</translation>
    </message>
    <message>
        <source>&amp;Print...</source>
        <translation>&amp;Drucken ...</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
</context>
<context>
    <name>EvalProgressBar</name>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stopp</translation>
    </message>
    <message>
        <source>Stop and keep what is done</source>
        <translation>Anhalten und das Berechnete behalten</translation>
    </message>
</context>
<context>
    <name>Fire</name>
    <message>
        <source>Flames</source>
        <translation>Flammen</translation>
    </message>
    <message>
        <source>Wide</source>
        <translation>Breite</translation>
    </message>
    <message>
        <source>Height</source>
        <translation>Höhe</translation>
    </message>
    <message>
        <source>BlurX</source>
        <translation>Unschärfe X</translation>
    </message>
    <message>
        <source>Distortion</source>
        <translation>Verzerrung</translation>
    </message>
    <message>
        <source>Transparency</source>
        <translation>Transparenz</translation>
    </message>
    <message>
        <source>Color</source>
        <translation>Farbe</translation>
    </message>
</context>
<context>
    <name>Frost</name>
    <message>
        <source>Thickness</source>
        <translation>Dicke</translation>
    </message>
    <message>
        <source>Fill</source>
        <translation>Füllung</translation>
    </message>
    <message>
        <source>Branching</source>
        <translation>Verzweigung</translation>
    </message>
    <message>
        <source>Freeze</source>
        <translation>Gefrieren</translation>
    </message>
    <message>
        <source>Transparency</source>
        <translation>Transparenz</translation>
    </message>
    <message>
        <source>Shadow</source>
        <translation>Schatten</translation>
    </message>
    <message>
        <source>Uniformity</source>
        <translation>Gleichmäßigkeit</translation>
    </message>
    <message>
        <source>Color</source>
        <translation>Farbe</translation>
    </message>
</context>
<context>
    <name>Lightning</name>
    <message>
        <source>Thickness</source>
        <translation>Dicke</translation>
    </message>
    <message>
        <source>Branching</source>
        <translation>Verzweigung</translation>
    </message>
    <message>
        <source>Dispersal</source>
        <translation>Streuung</translation>
    </message>
    <message>
        <source>Glow</source>
        <translation>Leuchten</translation>
    </message>
    <message>
        <source>Curvature</source>
        <translation>Krümmung</translation>
    </message>
    <message>
        <source>Branch Curvature</source>
        <translation>Krümmung der Äste</translation>
    </message>
    <message>
        <source>Distribution</source>
        <translation>Verteilung</translation>
    </message>
    <message>
        <source>Color</source>
        <translation>Farbe</translation>
    </message>
    <message>
        <source>Blending</source>
        <translation>Überblenden</translation>
    </message>
    <message>
        <source>Glow Blending</source>
        <translation>Leuchten überblenden</translation>
    </message>
    <message>
        <source>Glow Color</source>
        <translation>Leuchtfarbe</translation>
    </message>
    <message>
        <source>Random Seed</source>
        <translation>Zufallswert</translation>
    </message>
</context>
<context>
    <name>MacMenu</name>
    <message>
        <source>%1 home page...</source>
        <translation>Website von %1 ...</translation>
    </message>
</context>
<context>
    <name>MaskToolFilter</name>
    <message>
        <source>Selection tool</source>
        <translation>Auswahlpinsel</translation>
    </message>
    <message>
        <source>Blue stroke pen</source>
        <translation>Blauer Schutzstift</translation>
    </message>
    <message>
        <source>Eraser tool</source>
        <translation>Radierer</translation>
    </message>
    <message>
        <source>Bucket tool</source>
        <translation>Füllwerkzeug</translation>
    </message>
    <message>
        <source>Transform tool</source>
        <translation>Transformieren</translation>
    </message>
    <message>
        <source>Selection tool status tip</source>
        <translation>Malen Sie die Bereiche, in denen der Effekt wirken soll.</translation>
    </message>
    <message>
        <source>Blue stroke status tip</source>
        <translation>Malen Sie die Bereiche, die der Effekt schonen soll.</translation>
    </message>
    <message>
        <source>Eraser tool status tip</source>
        <translation>Entfernt die Auswahl; mit Strg-Klick alles auf einmal.</translation>
    </message>
    <message>
        <source>Bucket status tip</source>
        <translation>Füllt eine zusammenhängende Fläche; mit Strg leert es sie.</translation>
    </message>
    <message>
        <source>Transform tool status tip</source>
        <translation>Verschiebt, dreht und skaliert die Auswahl.</translation>
    </message>
</context>
<context>
    <name>Navigator</name>
    <message>
        <source>Navigator</source>
        <translation>Navigator</translation>
    </message>
    <message>
        <source>Reduce Scale</source>
        <translation>Verkleinern</translation>
    </message>
    <message>
        <source>Increase Scale</source>
        <translation>Vergrößern</translation>
    </message>
    <message>
        <source>Fit image</source>
        <translation>Ganzes Bild</translation>
    </message>
</context>
<context>
    <name>NightSky</name>
    <message>
        <source>Base Color</source>
        <translation>Grundfarbe</translation>
    </message>
    <message>
        <source>Dimming</source>
        <translation>Abdunkeln</translation>
    </message>
    <message>
        <source>Stars</source>
        <translation>Sterne</translation>
    </message>
    <message>
        <source>Nebulas</source>
        <translation>Nebel</translation>
    </message>
    <message>
        <source>Shooting Stars</source>
        <translation>Sternschnuppen</translation>
    </message>
    <message>
        <source>Meteors</source>
        <translation>Meteore</translation>
    </message>
    <message>
        <source>Star Color</source>
        <translation>Sternfarbe</translation>
    </message>
    <message>
        <source>Color Deviation</source>
        <translation>Farbabweichung</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Größe</translation>
    </message>
    <message>
        <source>Density</source>
        <translation>Dichte</translation>
    </message>
    <message>
        <source>Rays</source>
        <translation>Strahlen</translation>
    </message>
    <message>
        <source>Ray Size</source>
        <translation>Strahlengröße</translation>
    </message>
    <message>
        <source>Random Seed</source>
        <translation>Zufallswert</translation>
    </message>
    <message>
        <source>Nebula Color</source>
        <translation>Nebelfarbe</translation>
    </message>
    <message>
        <source>Spread</source>
        <translation>Ausbreitung</translation>
    </message>
    <message>
        <source>Amount</source>
        <translation>Menge</translation>
    </message>
    <message>
        <source>Deform</source>
        <translation>Verformung</translation>
    </message>
    <message>
        <source>Brightness</source>
        <translation>Helligkeit</translation>
    </message>
    <message>
        <source>Shooting Star Color</source>
        <translation>Farbe der Sternschnuppen</translation>
    </message>
    <message>
        <source>Elongation</source>
        <translation>Streckung</translation>
    </message>
    <message>
        <source>Angle</source>
        <translation>Winkel</translation>
    </message>
    <message>
        <source>Meteor Color</source>
        <translation>Meteorfarbe</translation>
    </message>
</context>
<context>
    <name>Orvex::Document::Filters::StrokesFile</name>
    <message>
        <source>Cannot open temporary file for write.</source>
        <translation>Die temporäre Datei kann nicht zum Schreiben geöffnet werden.</translation>
    </message>
    <message>
        <source>Cannot remove the old file.</source>
        <translation>Die alte Datei kann nicht entfernt werden.</translation>
    </message>
    <message>
        <source>Cannot rename temporary file.</source>
        <translation>Die temporäre Datei kann nicht umbenannt werden.</translation>
    </message>
</context>
<context>
    <name>Orvex::UI</name>
    <message>
        <source>Unknown</source>
        <translation>Unbekannt</translation>
    </message>
</context>
<context>
    <name>PluginUI</name>
    <message>
        <source>Error saving image data back to host application</source>
        <translation>Die Bilddaten konnten nicht an das Bildprogramm zurückgegeben werden</translation>
    </message>
    <message>
        <source>Attention</source>
        <translation>Achtung</translation>
    </message>
    <message>
        <source>Apply the effect to the image before closing?</source>
        <translation>Den Effekt vor dem Schließen auf das Bild anwenden?</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <source>Interrupt image processing?</source>
        <translation>Die Bildberechnung abbrechen?</translation>
    </message>
    <message>
        <source>Strokes (*.elemor)</source>
        <translation>Striche (*.elemor)</translation>
    </message>
    <message>
        <source>The strokes file could not be loaded.</source>
        <translation>Die Strichdatei konnte nicht geladen werden.</translation>
    </message>
    <message>
        <source>The strokes file could not be saved.</source>
        <translation>Die Strichdatei konnte nicht gespeichert werden.</translation>
    </message>
    <message>
        <source>Error loading image data from host application</source>
        <translation>Die Bilddaten konnten nicht vom Bildprogramm geladen werden</translation>
    </message>
    <message>
        <source>Images (*.png *.tif *.tiff *.jpg *.jpeg)</source>
        <translation>Bilder (*.png *.tif *.tiff *.jpg *.jpeg)</translation>
    </message>
    <message>
        <source>The image could not be saved:
%1</source>
        <translation>Das Bild konnte nicht gespeichert werden:
%1</translation>
    </message>
    <message>
        <source>The image could not be printed.</source>
        <translation>Das Bild konnte nicht gedruckt werden.</translation>
    </message>
</context>
<context>
    <name>PluginUIClass</name>
    <message>
        <source>Rain</source>
        <translation>Regen</translation>
    </message>
    <message>
        <source>Sun</source>
        <translation>Sonne</translation>
    </message>
    <message>
        <source>Water</source>
        <translation>Wasser</translation>
    </message>
    <message>
        <source>Lightning</source>
        <translation>Blitz</translation>
    </message>
    <message>
        <source>Cumulus</source>
        <translation>Wolken</translation>
    </message>
    <message>
        <source>Frost</source>
        <translation>Frost</translation>
    </message>
    <message>
        <source>Fire</source>
        <translation>Feuer</translation>
    </message>
    <message>
        <source>Ice</source>
        <translation>Eis</translation>
    </message>
    <message>
        <source>Rainbow</source>
        <translation>Regenbogen</translation>
    </message>
    <message>
        <source>Aurora</source>
        <translation>Polarlicht</translation>
    </message>
    <message>
        <source>NightSky</source>
        <translation>Nachthimmel</translation>
    </message>
    <message>
        <source>Snow</source>
        <translation>Schnee</translation>
    </message>
    <message>
        <source>Import presets</source>
        <translation>Presets importieren</translation>
    </message>
    <message>
        <source>Export presets</source>
        <translation>Presets exportieren</translation>
    </message>
    <message>
        <source>Load selection</source>
        <translation>Auswahl laden</translation>
    </message>
    <message>
        <source>Save selection</source>
        <translation>Auswahl speichern</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>Anwenden</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Show options</source>
        <translation>Optionen anzeigen</translation>
    </message>
    <message>
        <source>Before</source>
        <translation>Vorher</translation>
    </message>
    <message>
        <source>After</source>
        <translation>Nachher</translation>
    </message>
    <message>
        <source>Autorun mode</source>
        <translation>Automatisch berechnen</translation>
    </message>
    <message>
        <source>Effect:</source>
        <translation>Effekt:</translation>
    </message>
    <message>
        <source>Show Stroke</source>
        <translation>Auswahl zeigen</translation>
    </message>
    <message>
        <source>Eraser size</source>
        <translation>Radierergröße</translation>
    </message>
    <message>
        <source>Brush size</source>
        <translation>Pinselgröße</translation>
    </message>
    <message>
        <source>Navigator</source>
        <translation>Navigator</translation>
    </message>
    <message>
        <source>Fold the top bar</source>
        <translation>Die obere Leiste einklappen</translation>
    </message>
    <message>
        <source>Unfold the top bar</source>
        <translation>Die obere Leiste ausklappen</translation>
    </message>
    <message>
        <source>BTN_LOAD_PRESET_HINT</source>
        <translation>Importiert Presets aus einer Preset-Datei in die eigenen Presets des Effekts.</translation>
    </message>
    <message>
        <source>BTN_SAVE_PRESET_HINT</source>
        <translation>Exportiert die eigenen Presets des Effekts in eine Preset-Datei.</translation>
    </message>
    <message>
        <source>BTN_STROKELOAD_HINT</source>
        <translation>Lädt die Auswahlstriche oder Linien des Effekts aus einer Datei.</translation>
    </message>
    <message>
        <source>BTN_STROKESAVE_HINT</source>
        <translation>Speichert die Auswahlstriche oder Linien des Effekts in eine Datei.</translation>
    </message>
    <message>
        <source>BTN_SHOWSTROKES_HINT</source>
        <translation>Zeigt die gemalte Auswahl über dem Bild.</translation>
    </message>
    <message>
        <source>MAINVIEW_HINT</source>
        <translation>Das Bild. Malen oder zeichnen Sie mit den Werkzeugen des Effekts; das Mausrad zoomt, die mittlere Maustaste verschiebt die Ansicht.</translation>
    </message>
    <message>
        <source>EFFECT_COMBO_BOX_HINT</source>
        <translation>Wählt den Effekt, der auf das Foto gemalt wird.</translation>
    </message>
    <message>
        <source>NAVIGATOR_HINT</source>
        <translation>Das ganze Bild mit dem sichtbaren Ausschnitt: Klicken Sie, um dorthin zu wechseln; Regler und Liste zoomen.</translation>
    </message>
    <message>
        <source>BTN_AUTORUN_HINT</source>
        <translation>Berechnet nach jeder Änderung selbst eine neue Vorschau.</translation>
    </message>
    <message>
        <source>BTN_BEFORE_HINT</source>
        <translation>Zeigt das Bild, wie es vor dem Effekt war.</translation>
    </message>
    <message>
        <source>BTN_AFTER_HINT</source>
        <translation>Zeigt das Bild mit dem Effekt.</translation>
    </message>
    <message>
        <source>BTN_LOGO_HINT</source>
        <translation>Öffnet die Webseite des Produkts.</translation>
    </message>
    <message>
        <source>BTN_TOPBAR_HINT</source>
        <translation>Klappt die obere Leiste auf Berechnen, Anwenden und Abbrechen ein oder wieder aus.</translation>
    </message>
    <message>
        <source>TOOL_SIZE_HINT</source>
        <translation>Die Größe des Pinsels oder des Radierers in Bildpixeln.</translation>
    </message>
</context>
<context>
    <name>PresetExchange</name>
    <message>
        <source>The file is larger than %1 MiB.</source>
        <translation>Die Datei ist größer als %1 MiB.</translation>
    </message>
    <message>
        <source>The file is empty.</source>
        <translation>Die Datei ist leer.</translation>
    </message>
    <message>
        <source>Cannot read file %1:
%2.</source>
        <translation>Die Datei %1 kann nicht gelesen werden:
%2.</translation>
    </message>
    <message>
        <source>Parse error in file %1 at line %2, column %3:
%4</source>
        <translation>Lesefehler in der Datei %1, Zeile %2, Spalte %3:
%4</translation>
    </message>
    <message>
        <source>File %1 is for %2 effect</source>
        <translation>Die Datei %1 gehört zum Effekt %2</translation>
    </message>
    <message>
        <source>Error opening %1:
%2</source>
        <translation>Fehler beim Öffnen von %1:
%2</translation>
    </message>
    <message>
        <source>Error writing %1</source>
        <translation>Fehler beim Schreiben von %1</translation>
    </message>
    <message>
        <source>Elemorama preset</source>
        <translation>Elemorama-Preset</translation>
    </message>
    <message>
        <source>Import presets</source>
        <translation>Presets importieren</translation>
    </message>
    <message>
        <source>Export presets</source>
        <translation>Presets exportieren</translation>
    </message>
</context>
<context>
    <name>PresetsUI</name>
    <message>
        <source>Import</source>
        <translation>Importieren</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>Exportieren</translation>
    </message>
    <message>
        <source>Effect:</source>
        <translation>Effekt:</translation>
    </message>
    <message>
        <source>User presets</source>
        <translation>Eigene Presets</translation>
    </message>
    <message>
        <source>Select all</source>
        <translation>Alle auswählen</translation>
    </message>
    <message>
        <source>Delete all before import</source>
        <translation>Vor dem Import alle löschen</translation>
    </message>
    <message>
        <source>If preset name already used, then</source>
        <translation>Wenn der Name schon vergeben ist:</translation>
    </message>
    <message>
        <source>Rename And Add</source>
        <translation>Umbenennen und hinzufügen</translation>
    </message>
    <message>
        <source>Replace</source>
        <translation>Ersetzen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>Rain</name>
    <message>
        <source>Density</source>
        <translation>Dichte</translation>
    </message>
    <message>
        <source>Length</source>
        <translation>Länge</translation>
    </message>
    <message>
        <source>Scale</source>
        <translation>Maßstab</translation>
    </message>
    <message>
        <source>Angle</source>
        <translation>Winkel</translation>
    </message>
    <message>
        <source>Dispersion</source>
        <translation>Streuung</translation>
    </message>
    <message>
        <source>Transparency</source>
        <translation>Transparenz</translation>
    </message>
</context>
<context>
    <name>Rainbow</name>
    <message>
        <source>Bow width</source>
        <translation>Bogenbreite</translation>
    </message>
    <message>
        <source>Reverse Palette </source>
        <translation>Farben umkehren</translation>
    </message>
    <message>
        <source>White Rainbow</source>
        <translation>Weißer Regenbogen</translation>
    </message>
    <message>
        <source>Noise Frequency</source>
        <translation>Rauschfrequenz</translation>
    </message>
    <message>
        <source>Noise Level</source>
        <translation>Rauschstärke</translation>
    </message>
    <message>
        <source>Colorizing</source>
        <translation>Einfärben</translation>
    </message>
    <message>
        <source>Transparency</source>
        <translation>Transparenz</translation>
    </message>
</context>
<context>
    <name>Sun</name>
    <message>
        <source>Power</source>
        <translation>Stärke</translation>
    </message>
    <message>
        <source>Smooth Color</source>
        <translation>Farbverlauf</translation>
    </message>
    <message>
        <source>Sun Color</source>
        <translation>Sonnenfarbe</translation>
    </message>
    <message>
        <source>Glow Color</source>
        <translation>Leuchtfarbe</translation>
    </message>
    <message>
        <source>Additional Glow Color</source>
        <translation>Zweite Leuchtfarbe</translation>
    </message>
    <message>
        <source>Halo Color</source>
        <translation>Halofarbe</translation>
    </message>
    <message>
        <source>Enable Rays</source>
        <translation>Strahlen zeigen</translation>
    </message>
    <message>
        <source>Random direction</source>
        <translation>Zufällige Richtung</translation>
    </message>
    <message>
        <source>Number</source>
        <translation>Anzahl</translation>
    </message>
    <message>
        <source>Max Length</source>
        <translation>Größte Länge</translation>
    </message>
    <message>
        <source>Intensity</source>
        <translation>Intensität</translation>
    </message>
    <message>
        <source>Width</source>
        <translation>Breite</translation>
    </message>
    <message>
        <source>Transparency</source>
        <translation>Transparenz</translation>
    </message>
</context>
<context>
    <name>ToolFilter</name>
    <message>
        <source>History Brush</source>
        <translation>Protokollpinsel</translation>
    </message>
    <message>
        <source>Hand Tool</source>
        <translation>Hand</translation>
    </message>
    <message>
        <source>Zoom Tool</source>
        <translation>Lupe</translation>
    </message>
    <message>
        <source>HistoryBrush_HINT</source>
        <translation>Malt den Zustand vor dem Effekt zurück.</translation>
    </message>
    <message>
        <source>HandTool_HINT</source>
        <translation>Verschiebt den sichtbaren Bildausschnitt.</translation>
    </message>
    <message>
        <source>ZoomTool_HINT</source>
        <translation>Vergrößert oder verkleinert die Ansicht.</translation>
    </message>
</context>
<context>
    <name>Water</name>
    <message>
        <source>Density</source>
        <translation>Dichte</translation>
    </message>
    <message>
        <source>Height</source>
        <translation>Höhe</translation>
    </message>
    <message>
        <source>Length</source>
        <translation>Länge</translation>
    </message>
    <message>
        <source>Direction</source>
        <translation>Richtung</translation>
    </message>
    <message>
        <source>Dispersal</source>
        <translation>Streuung</translation>
    </message>
    <message>
        <source>Depth</source>
        <translation>Tiefe</translation>
    </message>
    <message>
        <source>Brightness</source>
        <translation>Helligkeit</translation>
    </message>
    <message>
        <source>Vertical Shift</source>
        <translation>Vertikale Verschiebung</translation>
    </message>
    <message>
        <source>Horizontal Shift</source>
        <translation>Horizontale Verschiebung</translation>
    </message>
    <message>
        <source>Microwaves</source>
        <translation>Kräuselwellen</translation>
    </message>
    <message>
        <source>Color</source>
        <translation>Farbe</translation>
    </message>
</context>
</TS>