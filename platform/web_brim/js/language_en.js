// Web interface texts: English.
var brim_lang = "en";
