#!/usr/bin/env python3
"""Fills the translations of the window's own texts into the .ts files that lupdate keeps.

Run after `lupdate` (scripts/translations does both): texts already translated by hand stay as
they are; the table below only fills what is still empty.
"""
import sys
import xml.etree.ElementTree as ET

GERMAN = {
    # the effect window
    "Import presets": "Presets importieren",
    "Export presets": "Presets exportieren",
    "Load selection": "Auswahl laden",
    "Save selection": "Auswahl speichern",
    "Apply": "Anwenden",
    "Cancel": "Abbrechen",
    "Show options": "Optionen anzeigen",
    "Before": "Vorher",
    "After": "Nachher",
    "Autorun mode": "Automatisch berechnen",
    "Show Stroke": "Auswahl zeigen",
    "Brush size": "Pinselgröße",
    "Eraser size": "Radierergröße",
    "Draw lines": "Linien zeichnen",
    "Erase lines": "Linien löschen",
    "Selection tool": "Auswahlpinsel",
    "Eraser tool": "Radierer",
    "Bucket tool": "Füllwerkzeug",
    "Blue stroke pen": "Blauer Schutzstift",
    "Write error of file:\n %1": "Schreibfehler in der Datei:\n %1",
    "Error loading from %1": "Fehler beim Laden aus %1",
    "Transform tool": "Transformieren",
    "Selection tool status tip": "Malen Sie die Bereiche, in denen der Effekt wirken soll.",
    "Blue stroke status tip": "Malen Sie die Bereiche, die der Effekt schonen soll.",
    "Eraser tool status tip": "Entfernt die Auswahl; mit Strg-Klick alles auf einmal.",
    "Bucket status tip": "Füllt eine zusammenhängende Fläche; mit Strg leert es sie.",
    "Transform tool status tip": "Verschiebt, dreht und skaliert die Auswahl.",
    "Cannot open temporary file for write.": "Die temporäre Datei kann nicht zum Schreiben geöffnet werden.",
    "Cannot remove the old file.": "Die alte Datei kann nicht entfernt werden.",
    "Cannot rename temporary file.": "Die temporäre Datei kann nicht umbenannt werden.",
    "History Brush": "Protokollpinsel",
    "Hand Tool": "Hand",
    "Zoom Tool": "Lupe",
    "HistoryBrush_HINT": "Malt den Zustand vor dem Effekt zurück.",
    "HandTool_HINT": "Verschiebt den sichtbaren Bildausschnitt.",
    "ZoomTool_HINT": "Vergrößert oder verkleinert die Ansicht.",
    "Effect:": "Effekt:",
    "Rain": "Regen",
    "Sun": "Sonne",
    "Water": "Wasser",
    "Lightning": "Blitz",
    "Cumulus": "Wolken",
    "Frost": "Frost",
    "Fire": "Feuer",
    "Ice": "Eis",
    "Rainbow": "Regenbogen",
    "Aurora": "Polarlicht",
    "NightSky": "Nachthimmel",
    "Snow": "Schnee",
    "Undo": "Rückgängig",
    "Redo": "Wiederholen",
    "&Run": "&Berechnen",
    "Preferences...": "Einstellungen ...",
    "&help...": "&Hilfe ...",
    "&Edit": "&Bearbeiten",
    "&Help": "&Hilfe",
    "Help": "Hilfe",
    "Navigator": "Navigator",
    "Fit image": "Ganzes Bild",
    "Increase Scale": "Vergrößern",
    "Reduce Scale": "Verkleinern",
    "Run": "Berechnen",
    "Apply the result to the image": "Das Ergebnis auf das Bild anwenden",
    "Cancel the result": "Das Ergebnis verwerfen",
    "Preferences": "Einstellungen",
    "%1 home page...": "Website von %1 ...",
    "Error saving image data back to host application":
        "Die Bilddaten konnten nicht an das Bildprogramm zurückgegeben werden",
    "Error loading image data from host application":
        "Die Bilddaten konnten nicht vom Bildprogramm geladen werden",
    "Attention": "Achtung",
    "Apply the effect to the image before closing?": "Den Effekt vor dem Schließen auf das Bild anwenden?",
    "Warning": "Warnung",
    "Interrupt image processing?": "Die Bildberechnung abbrechen?",
    "Strokes (*.elemor)": "Striche (*.elemor)",
    "The strokes file could not be loaded.": "Die Strichdatei konnte nicht geladen werden.",
    "The strokes file could not be saved.": "Die Strichdatei konnte nicht gespeichert werden.",
    # dialogs and controls of the window
    "Select Color": "Farbe wählen",
    "Nothing selected! Select working areas with Selection brush first":
        "Nichts ausgewählt! Wählen Sie zuerst mit dem Auswahlpinsel die Arbeitsbereiche.",
    "Nothing to do! Draw line(s) with Direction tool first":
        "Nichts zu tun! Zeichnen Sie zuerst Linien mit dem Richtungswerkzeug.",
    "Stop": "Stopp",
    "Stop and keep what is done": "Anhalten und das Berechnete behalten",
    "Unknown": "Unbekannt",
    "The file is larger than %1 MiB.": "Die Datei ist größer als %1 MiB.",
    "The file is empty.": "Die Datei ist leer.",
    "Cannot read file %1:\n%2.": "Die Datei %1 kann nicht gelesen werden:\n%2.",
    "Parse error in file %1 at line %2, column %3:\n%4": "Lesefehler in der Datei %1, Zeile %2, Spalte %3:\n%4",
    "File %1 is for %2 effect": "Die Datei %1 gehört zum Effekt %2",
    "Error opening %1:\n%2": "Fehler beim Öffnen von %1:\n%2",
    "Error writing %1": "Fehler beim Schreiben von %1",
    "Elemorama preset": "Elemorama-Preset",
    "Import": "Importieren",
    "Export": "Exportieren",
    "User presets": "Eigene Presets",
    "Select all": "Alle auswählen",
    "Delete all before import": "Vor dem Import alle löschen",
    "If preset name already used, then": "Wenn der Name schon vergeben ist:",
    "Rename And Add": "Umbenennen und hinzufügen",
    "Replace": "Ersetzen",
    # the effects' controls
    "Red": "Rot", "Green": "Grün", "Blue": "Blau", "Inversion": "Umkehren", "Color Mix": "Farbmischung",
    "Glow": "Leuchten", "Brightness": "Helligkeit", "Rate": "Rate", "Glow Sigma X": "Leuchten Sigma X",
    "Sigma X": "Sigma X", "Sigma Y": "Sigma Y", "Length": "Länge", "Geometry": "Geometrie",
    "Opacity": "Deckkraft", "Blend Mode": "Mischmodus", "Cloudiness": "Bewölkung", "Boundary": "Rand",
    "Smoothness": "Weichheit", "Contrast": "Kontrast", "Transparency": "Transparenz", "Size": "Größe",
    "Color": "Farbe", "Flames": "Flammen", "Wide": "Breite", "Height": "Höhe", "BlurX": "Unschärfe X",
    "Distortion": "Verzerrung", "Thickness": "Dicke", "Fill": "Füllung", "Branching": "Verzweigung",
    "Freeze": "Gefrieren", "Shadow": "Schatten", "Uniformity": "Gleichmäßigkeit", "Dispersal": "Streuung",
    "Curvature": "Krümmung", "Branch Curvature": "Krümmung der Äste", "Distribution": "Verteilung",
    "Blending": "Überblenden", "Glow Blending": "Leuchten überblenden", "Glow Color": "Leuchtfarbe",
    "Random Seed": "Zufallswert", "Base Color": "Grundfarbe", "Dimming": "Abdunkeln", "Stars": "Sterne",
    "Nebulas": "Nebel", "Shooting Stars": "Sternschnuppen", "Meteors": "Meteore", "Star Color": "Sternfarbe",
    "Color Deviation": "Farbabweichung", "Density": "Dichte", "Rays": "Strahlen", "Ray Size": "Strahlengröße",
    "Nebula Color": "Nebelfarbe", "Spread": "Ausbreitung", "Amount": "Menge", "Deform": "Verformung",
    "Shooting Star Color": "Farbe der Sternschnuppen", "Elongation": "Streckung", "Angle": "Winkel",
    "Meteor Color": "Meteorfarbe", "Scale": "Maßstab", "Dispersion": "Streuung", "Bow width": "Bogenbreite",
    "Reverse Palette ": "Farben umkehren", "White Rainbow": "Weißer Regenbogen",
    "Noise Frequency": "Rauschfrequenz", "Noise Level": "Rauschstärke", "Colorizing": "Einfärben",
    "Power": "Stärke", "Smooth Color": "Farbverlauf", "Sun Color": "Sonnenfarbe",
    "Additional Glow Color": "Zweite Leuchtfarbe", "Halo Color": "Halofarbe", "Enable Rays": "Strahlen zeigen",
    "Random direction": "Zufällige Richtung", "Number": "Anzahl", "Max Length": "Größte Länge",
    "Intensity": "Intensität", "Width": "Breite", "Direction": "Richtung", "Depth": "Tiefe",
    "Vertical Shift": "Vertikale Verschiebung", "Horizontal Shift": "Horizontale Verschiebung",
    "Microwaves": "Kräuselwellen", "Horizon": "Horizont",
    # hints
    "startTEXT": "Wählen Sie einen Effekt, stellen Sie ihn im Bedienfeld ein und wenden Sie ihn mit „Anwenden“ an.",
    "Rain_HINT": "Regen: Tropfen und Schlieren über der Auswahl.",
    "Sun_HINT": "Sonne: Scheibe, Schein, Halo und Strahlen.",
    "Water_HINT": "Wasser: eine Wasserfläche mit Wellen unter dem Horizont.",
    "Lightning_HINT": "Blitz: verzweigte Blitze entlang der gezeichneten Linien.",
    "Cumulus_HINT": "Wolken: Haufenwolken in der Auswahl.",
    "Frost_HINT": "Frost: Eiskristalle, die von den Rändern her wachsen.",
    "Fire_HINT": "Feuer: Flammenzungen, die vom unteren Rand der Auswahl aufsteigen.",
    "Rainbow_HINT": "Regenbogen: ein Bogen durch drei gesetzte Punkte.",
    "Aurora_HINT": "Polarlicht: Vorhänge mit Strahlen über den gezeichneten Linien.",
    "NightSky_HINT": "Nachthimmel: Sterne, Nebel und Meteore in ihren Zonen.",
}

ENGLISH = {
    "startTEXT": "Choose an effect, tune it in the panel, and press Apply to write it into the image.",
    "Rain_HINT": "Rain: drops and streaks over the selection.",
    "Sun_HINT": "Sun: disc, glow, halo and rays.",
    "Water_HINT": "Water: a water surface with waves below the horizon.",
    "Lightning_HINT": "Lightning: branching bolts along the drawn lines.",
    "Cumulus_HINT": "Clouds: cumulus clouds inside the selection.",
    "Frost_HINT": "Frost: ice crystals growing in from the edges.",
    "Fire_HINT": "Fire: tongues of flame rising from the selection's lower edge.",
    "Rainbow_HINT": "Rainbow: a bow through three placed points.",
    "Aurora_HINT": "Aurora: curtains with rays above the drawn lines.",
    "NightSky_HINT": "Night sky: stars, nebulas and meteors in their zones.",
}


def fill(path, table, only_table):
    tree = ET.parse(path)
    for context in tree.getroot().iter("context"):
        for message in list(context.iter("message")):
            source = message.findtext("source")
            translation = message.find("translation")
            if translation is None:
                continue
            if source in table and (not (translation.text or "").strip() or translation.get("type") == "unfinished"):
                translation.text = table[source]
                translation.attrib.pop("type", None)
            elif only_table and source not in table:
                context.remove(message)
    tree.write(path, encoding="utf-8", xml_declaration=True)


if __name__ == "__main__":
    fill(sys.argv[1], GERMAN if sys.argv[2] == "de" else ENGLISH, sys.argv[2] == "en")
