// Web interface texts: Traditional Chinese.
var brim_lang = "ct";
