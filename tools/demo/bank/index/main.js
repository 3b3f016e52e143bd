var pageVersion = "v2";
window.onload = function () { document.getElementById("version").textContent = "version " + pageVersion; };
