"""A tiny package that the sample wheelhouse carries, so that installing the environment installs something."""

__version__ = "1.0.0"


def greeting() -> str:
    return "岚栖示例环境已就绪"
