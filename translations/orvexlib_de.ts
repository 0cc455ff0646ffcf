<?xml version='1.0' encoding='utf-8'?>
<TS version="2.1" language="de_DE">
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
</context>
</TS>