# Texts of the window that a packager sets once at build time, without touching code.
set(LAUNCHER_COPYRIGHT_TEXT "© 2026 岚栖工作室" CACHE STRING "Copyright line in the window's footer")
set(LAUNCHER_WEBSITE_HOST "lanqi.studio" CACHE STRING "Website host name shown in the footer")
set(LAUNCHER_WEBSITE_URL "https://lanqi.studio" CACHE STRING "https URL of the website host")
set(LAUNCHER_CHAT_GROUP "318245907" CACHE STRING "Chat-group number after the contact label")
set(LAUNCHER_IMAGE_MODELS "FLUX.1 Kontext / Qwen-Image / Stable Diffusion 3.5 / HiDream-I1"
    CACHE STRING "Four image model names separated by ' / '")
set(LAUNCHER_VIDEO_MODELS "Wan 2.2 / HunyuanVideo / LTX-Video / CogVideoX"
    CACHE STRING "Four video model names separated by ' / '")
set(LAUNCHER_DISPLAY_NAME "岚栖启动器" CACHE STRING "The app's name where the system shows app names")
set(LAUNCHER_BUNDLE_NAME "LanqiLauncher" CACHE STRING "Name of the app bundle and its executable")
set(LAUNCHER_BUNDLE_IDENTIFIER "studio.lanqi.launcher" CACHE STRING "Bundle identifier")
