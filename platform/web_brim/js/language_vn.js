// Web interface texts: Vietnamese.
var brim_lang = "vn";
