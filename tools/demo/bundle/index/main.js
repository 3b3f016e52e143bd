var pageVersion = "v1";
window.onload = function () { document.getElementById("version").textContent = "version " + pageVersion; };
