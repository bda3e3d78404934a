// Web interface texts: Simplified Chinese.
var brim_lang = "cn";
